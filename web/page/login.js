'use strict';
document.getElementById('login').addEventListener('submit', async (event) => {
  event.preventDefault();
  const form = event.target;
  const message = document.getElementById('message');
  message.textContent = '';
  const response = await fetch('/api/login', {
    method: 'POST',
    headers: {'Content-Type': 'application/json'},
    body: JSON.stringify({user: form.user.value, password: form.password.value}),
  });
  if (response.ok) {
    location.href = '/';
    return;
  }
  const answer = await response.json().catch(() => ({}));
  message.textContent = answer.error || ('Log-in failed (' + response.status + ')');
});
