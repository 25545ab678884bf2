// zent-recorder: records every camera of the camera list on its events, with no window and no
// display, until SIGTERM or SIGINT; SIGHUP reads the camera list and the credentials again.

#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "config/paths.h"
#include "config/profile_file.h"
#include "notify/camera_notifier.h"
#include "notify/notices.h"
#include "notify/notifications.h"
#include "recorder/add_user.h"
#include "record/memory_budget.h"
#include "record/recorder_finishing.h"
#include "service/camera_check.h"
#include "service/camera_list.h"
#include "service/credentials.h"
#include "service/recorder_service.h"
#include "service/status_output.h"
#include "settings/documents_folder.h"
#include "settings/options_store.h"
#include "web/camera_health.h"
#include "web/tokens.h"
#include "web/web_server.h"

namespace {

// Exit status for settings that cannot work; the service unit does not restart on it.
constexpr int kExitBadSettings = 2;

void Usage(std::FILE* out) {
  std::fprintf(out,
               "usage: zent-recorder [--camera ADDRESS]... [--mqtt URL] [--web [ADDRESS:]PORT] [--check]\n"
               "       zent-recorder --add-user NAME [--admin]\n"
               "       zent-recorder --add-token NAME [--trigger]\n"
               "Records every camera of the camera list (DOCUMENTS/zent.cfg1) on its events, each\n"
               "with its own session, video and recordings, until SIGTERM or SIGINT.\n"
               "  --camera ADDRESS  only this camera (repeatable)\n"
               "  --mqtt URL        tell this MQTT broker (mqtt://HOST:PORT, mqtts://...) of events and\n"
               "                    recordings, instead of the Options' broker\n"
               "  --web [ADDRESS:]PORT  serve the recordings' web page there (127.0.0.1:8090 when\n"
               "                    none is given; also the Options' web/address)\n"
               "  --add-user NAME   make or change an account of the web page (--admin: may delete);\n"
               "                    the password is asked twice, or read as one line from standard input\n"
               "  --add-token NAME  make a token that may read /metrics and /healthz (for Prometheus);\n"
               "                    printed once, kept only hashed; --trigger: it may also start\n"
               "                    recordings (POST /api/cameras/ID/trigger)\n"
               "  --check           print the cameras, their URLs and whether they answer, then exit\n"
               "IDs and passwords: $CREDENTIALS_DIRECTORY/zent-recorder, else\n"
               "~/.config/zent-client/credentials, one \"ADDRESS ID PASSWORD\" a line, mode 600;\n"
               "the broker's as \"mqtt://HOST:PORT USER PASSWORD\".\n"
               "SIGHUP reads the camera list, the Options and the credentials again.\n");
}

struct Loaded {
  std::vector<zent::CameraSetup> cameras;
  std::string webAddress, webCertFile, webKeyFile;
  bool webHealthFromLocalhost = false;
  zent::NotifySettings notify;
  std::vector<std::string> warnings;
  std::string error;
};

// The broker's user and password: its line in the credentials file, if it has one.
std::pair<std::string, std::string> BrokerLogin(const zent::CredentialsFile& credentials, const std::string& url) {
  zent::BrokerAddress broker;
  std::string error;
  if (!zent::ParseBrokerUrl(url, broker, error)) return {};
  const auto found = credentials.cameras.find(broker.Key());
  if (found == credentials.cameras.end()) return {};
  return {found->second.userId, found->second.password};
}

Loaded Load(const std::string& documentsFolder, const std::vector<std::string>& only, const std::string& mqttUrl) {
  Loaded loaded;
  const std::string listPath = zent::ConfigFilePath(documentsFolder);
  const zent::ReadResult list = zent::ReadProfiles(listPath, false);
  if (!list.opened || !list.error.empty()) {
    loaded.error = "Cannot read the camera list " + listPath + (list.error.empty() ? "" : ": " + list.error);
    return loaded;
  }
  const zent::CredentialsFile credentials = zent::ReadCredentials(
      zent::CredentialsPath(std::getenv("CREDENTIALS_DIRECTORY"), std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME")));
  if (!credentials.error.empty()) {
    loaded.error = credentials.error;
    return loaded;
  }
  zent::Options options = zent::LoadOptions();
  if (!mqttUrl.empty()) {
    options.mqttUrl = mqttUrl;
    options.mqttEnabled = true;
  }
  loaded.webAddress = options.webAddress;
  loaded.webCertFile = options.webCertFile;
  loaded.webKeyFile = options.webKeyFile;
  loaded.webHealthFromLocalhost = options.webHealthFromLocalhost;
  auto [brokerUser, brokerPassword] = BrokerLogin(credentials, options.mqttUrl);
  std::string notifyError;
  loaded.notify = zent::NotifySettingsFor(options, std::move(brokerUser), std::move(brokerPassword), notifyError);
  if (!notifyError.empty()) loaded.warnings.push_back(notifyError);
  zent::SetupResult setups = zent::BuildSetups(list.profiles, credentials, options, only);
  loaded.warnings.insert(loaded.warnings.end(), setups.warnings.begin(), setups.warnings.end());
  loaded.error = std::move(setups.error);
  if (loaded.error.empty()) zent::MemoryBudget::Process().SetLimit(zent::MemoryBudgetFor(options.memoryBudgetBytes));
  loaded.cameras = std::move(setups.cameras);
  if (loaded.error.empty() && loaded.cameras.empty()) loaded.error = "The camera list " + listPath + " has no camera";
  return loaded;
}

std::string AddressList(const std::vector<zent::CameraSetup>& cameras) {
  std::string text;
  for (const auto& camera : cameras) text += (text.empty() ? "" : ", ") + camera.Address();
  return text;
}

struct Arguments {
  std::vector<std::string> only;
  bool check = false;
  std::string mqttUrl, webAddress, addUser, addToken;
  bool admin = false;
  bool trigger = false;
};

// False when the command line cannot be read; `exitCode` then says how to end.
bool ParseArguments(int argc, char** argv, Arguments& args, int& exitCode) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--camera" && i + 1 < argc) {
      args.only.push_back(argv[++i]);
    } else if (arg == "--mqtt" && i + 1 < argc) {
      args.mqttUrl = argv[++i];
    } else if (arg == "--web") {
      args.webAddress = i + 1 < argc && argv[i + 1][0] != '-' ? argv[++i] : "127.0.0.1:8090";
    } else if (arg == "--add-user" && i + 1 < argc) {
      args.addUser = argv[++i];
    } else if (arg == "--add-token" && i + 1 < argc) {
      args.addToken = argv[++i];
    } else if (arg == "--admin") {
      args.admin = true;
    } else if (arg == "--trigger") {
      args.trigger = true;
    } else if (arg == "--check") {
      args.check = true;
    } else {
      const bool help = arg == "--help";
      Usage(help ? stdout : stderr);
      exitCode = help ? 0 : kExitBadSettings;
      return false;
    }
  }
  return true;
}

std::string CacheRoot() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  const char* home = std::getenv("HOME");
  return (cache && *cache ? std::string(cache) : std::string(home ? home : "") + "/.cache") + "/zent-recorder";
}

// The web page, when one is asked for; null (and said why) when it cannot be served.
std::unique_ptr<zent::WebServer> StartWebPage(const std::string& webAddress, const Loaded& loaded,
                                              zent::WebSettings settings, std::uint64_t openFiles,
                                              zent::CameraRecordings& catalog, zent::CameraBoard& board,
                                              zent::CameraFeeds& feeds, zent::StatusOutput& output,
                                              zent::TriggerSink trigger) {
  settings.healthFromLocalhost = loaded.webHealthFromLocalhost;
  const std::string cacheRoot = CacheRoot();
  settings.cacheFolder = cacheRoot + "/mp4";
  settings.thumbnailFolder = cacheRoot + "/thumbnails";
  settings.sharesPath =
      zent::SharesPath(std::getenv("STATE_DIRECTORY"), std::getenv("XDG_STATE_HOME"), std::getenv("HOME"));
  settings.certFile = loaded.webCertFile;
  settings.keyFile = loaded.webKeyFile;
  settings.limits.connections = zent::WebConnectionLimit(openFiles, loaded.cameras.size());
  settings.limits.connectionsPerAddress = std::min(settings.limits.connectionsPerAddress, settings.limits.connections);
  std::string error;
  std::unique_ptr<zent::WebServer> web;
  if (!zent::ParseWebAddress(webAddress, settings.host, settings.port)) {
    error = "The web page's address " + webAddress + " is not ADDRESS:PORT";
  } else {
    web = std::make_unique<zent::WebServer>(
        settings, catalog, board, feeds, [&output](const std::string& line) { output.Program(line); },
        std::move(trigger));
    if (!web->Start(error)) web.reset();
  }
  if (!web) {
    output.Program(error + "; recording without it");
    return web;
  }
  output.Program("web page at " + web->Url());
  if (!web->SharesProblem().empty()) output.Program("no share links from before: " + web->SharesProblem());
  return web;
}

// Reloads on each SIGHUP; returns the signal that asks to stop.
int WaitForSignals(const sigset_t& signals, const std::function<void()>& reload) {
  for (;;) {
    int received = 0;
    if (sigwait(&signals, &received) != 0) continue;
    if (received != SIGHUP) return received;
    reload();
  }
}

}  // namespace

int main(int argc, char** argv) {
  // The process holds every camera's password: no core file, and no other process of the same
  // user may read its memory.
  ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  zent::KeepFreedFrameMemory();
  // Descriptors are what a recording needs most: as many as the system allows, and the web page
  // gets only what the cameras leave (below).
  const std::uint64_t openFiles = zent::RaiseOpenFileLimit();
  Arguments args;
  if (int exitCode = 0; !ParseArguments(argc, argv, args, exitCode)) return exitCode;

  const std::string accountsPath =
      zent::AccountsPath(std::getenv("CREDENTIALS_DIRECTORY"), std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
  if (!args.addUser.empty()) return AddUser(args.addUser, args.admin, accountsPath);
  const std::string tokensPath =
      zent::TokensPath(std::getenv("CREDENTIALS_DIRECTORY"), std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
  if (!args.addToken.empty()) return AddToken(args.addToken, tokensPath, args.trigger);

  // The signals are taken by sigwait below, in this thread alone: blocked before any other
  // thread starts, so that every thread inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&signals, s);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  const std::string documentsFolder = zent::GetDocumentsFolder();
  Loaded loaded = Load(documentsFolder, args.only, args.mqttUrl);
  if (!loaded.error.empty()) {
    std::fprintf(stderr, "zent-recorder: %s\n", loaded.error.c_str());
    return kExitBadSettings;
  }
  zent::StatusOutput output(stdout, documentsFolder);
  for (const std::string& warning : loaded.warnings) output.Program(warning);
  if (args.check) return zent::CheckCameras(loaded.cameras, stdout) ? 0 : 1;

  output.Program("recording " + AddressList(loaded.cameras));
  zent::Notifications notifications([&output](const std::string& line) { output.Program(line); });
  zent::CameraBoard board;
  std::atomic<zent::RecorderService*> recording{nullptr};  // set once the cameras are there
  notifications.OnTrigger([&](const std::string& camera, const std::string& payload) {
    zent::RecorderService* service = recording;
    if (!service) return;
    for (const zent::CameraState& state : board.Cameras())
      if (state.id == camera) service->Trigger(state.address, zent::EventOrigin{"external", "", "", payload, "MQTT"});
  });
  for (const std::string& error : notifications.Configure(loaded.notify)) output.Program(error);
  zent::CameraFeeds feeds;
  zent::CameraRecordings catalog;
  // A camera that stops recording by itself is said once per outage, to its status lines and the
  // notifications, and once when it is back.
  std::mutex logsMutex;
  std::map<std::string, zent::LogSettings> logs;
  zent::NotRecordingAlarm alarm(
      board, feeds, [&](const std::string& address, const std::string& id, bool down, const std::string& text) {
        zent::LogSettings log;
        {
          std::lock_guard lock(logsMutex);
          if (const auto found = logs.find(address); found != logs.end()) log = found->second;
        }
        output.Line(address, log, text);
        notifications.Send(zent::NotRecordingNotice(id, down, text, std::chrono::system_clock::now()));
      });
  auto apply = [&](zent::RecorderService& service, const std::vector<zent::CameraSetup>& cameras) {
    std::vector<std::string> addresses;
    for (const auto& camera : cameras) addresses.push_back(camera.Address());
    board.SetCameras(addresses);
    feeds.Keep(addresses);
    catalog.SetCameras(cameras);
    std::lock_guard lock(logsMutex);
    logs.clear();
    for (const auto& camera : cameras) logs[camera.Address()] = zent::LogSettingsOf(camera.profile);
    service.Apply(cameras);
  };
  zent::RecorderService service(
      output, {},
      [&](const zent::CameraSetup& camera) {
        std::vector<std::unique_ptr<zent::CycleObserver>> observers;
        observers.push_back(
            std::make_unique<zent::CameraNotifier>(notifications, notifications.Prefix(), camera.Address()));
        observers.push_back(board.ObserverFor(camera.Address()));
        return observers;
      },
      &feeds);
  apply(service, loaded.cameras);
  recording = &service;
  std::unique_ptr<zent::WebServer> web;
  const std::string webAddress = args.webAddress.empty() ? loaded.webAddress : args.webAddress;
  if (!webAddress.empty()) {
    zent::WebSettings settings;
    settings.accountsPath = accountsPath;
    settings.tokensPath = tokensPath;
    web = StartWebPage(
        webAddress, loaded, settings, openFiles, catalog, board, feeds, output,
        [&service](const std::string& address, const zent::EventOrigin& origin) { service.Trigger(address, origin); });
  }
  const int stopped = WaitForSignals(signals, [&] {
    Loaded again = Load(documentsFolder, args.only, args.mqttUrl);
    for (const std::string& warning : again.warnings) output.Program(warning);
    if (!again.error.empty()) {
      output.Program("not reloaded, recording as before: " + again.error);
      return;
    }
    for (const std::string& error : notifications.Configure(again.notify)) output.Program(error);
    apply(service, again.cameras);
    output.Program("reloaded; recording " + AddressList(again.cameras));
  });
  output.Program(std::string("stopping (") + strsignal(stopped) + ")");
  web.reset();
  recording = nullptr;  // the broker's triggers find no camera from here on
  service.StopAll();    // every camera finishes its file at once, each waiting for its disk at most 2 s
  output.Flush();
  if (!zent::Finishing::WaitForAll(std::chrono::steady_clock::now() + std::chrono::milliseconds(200))) {
    output.Program("stopped; a recording on a disk that does not answer is left without its index");
    std::_Exit(0);  // nothing is torn down under the thread still writing to it
  }
  output.Program("stopped");
  return 0;
}
