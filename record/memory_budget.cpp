#include "record/memory_budget.h"

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <new>

extern "C" {
#include <libavutil/buffer.h>
}

namespace zent {
namespace {

struct Charge {
  AVBufferRef* held;
  std::int64_t bytes;
  MemoryBudget* budget;
};

void FreeCharged(void* opaque, std::uint8_t*) {
  auto* charge = static_cast<Charge*>(opaque);
  av_buffer_unref(&charge->held);
  charge->budget->Release(charge->bytes);
  delete charge;
}

}  // namespace

MemoryBudget& MemoryBudget::Process() {
  static MemoryBudget budget;
  return budget;
}

bool MemoryBudget::TryCharge(std::int64_t bytes) {
  std::int64_t used = used_.load();
  do {
    if (used + bytes > limit_.load()) return false;
  } while (!used_.compare_exchange_weak(used, used + bytes));
  return true;
}

std::int64_t DefaultMemoryBudget() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGESIZE);
  const std::int64_t gib = std::int64_t{1} << 30;
  if (pages <= 0 || pageSize <= 0) return gib;
  return std::min(gib, static_cast<std::int64_t>(pages) * pageSize / 4);
}

bool ChargePacket(AVPacket& packet, MemoryBudget& budget) {
  if (av_packet_make_refcounted(&packet) < 0) return false;
  const std::int64_t bytes = static_cast<std::int64_t>(packet.buf->size);
  if (!budget.TryCharge(bytes)) return false;
  auto* charge = new (std::nothrow) Charge{packet.buf, bytes, &budget};
  AVBufferRef* charged =
      charge ? av_buffer_create(packet.buf->data, packet.buf->size, &FreeCharged, charge, 0) : nullptr;
  if (!charged) {
    delete charge;
    budget.Release(bytes);
    return false;
  }
  packet.buf = charged;  // the packet's own reference now lives in the charge
  return true;
}

void KeepFreedFrameMemory() {
  // Above any compressed frame, 8K included; the trim threshold only says when freed memory at the
  // top of a heap goes back, and what is freed was within the budget.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 128 << 20);
}

}  // namespace zent
