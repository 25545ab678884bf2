#include <fcntl.h>
#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>
#include "record/file_writer.h"
#include "record/recording_reader.h"
using namespace zent;
static double Cpu() { timespec t{}; clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t); return t.tv_sec + t.tv_nsec / 1e9; }
int main(int argc, char** argv) {
  std::string error;
  auto reader = RecordingReader::Open(argv[1], error, std::chrono::seconds(60));
  std::vector<PacketPtr> packets;
  for (;;) { PacketPtr p = NewPacket(); if (av_read_frame(reader->Input(), p.get()) < 0) break; packets.push_back(std::move(p)); }
  for (int round = 0; round < 3; ++round)
  for (const char* ext : {".avi", ".mp4"}) {
    std::string out = std::string("/tmp/x/mux") + ext; unlink(out.c_str());
    UniqueFd fd(::open(out.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    double c0 = Cpu();
    auto w = FileWriter::Open(std::move(fd), ContainerOf(out), *reader->Stream().codecpar, {30, 1}, std::chrono::system_clock::now(), error);
    std::int64_t f = 0;
    for (auto& p : packets) { PacketPtr q = NewPacket(); av_packet_ref(q.get(), p.get()); w->Write(*q, f++, 0, error); if (f % 6 == 0) w->Flush(); }
    w->Finish(error);
    std::printf("%s %zu packets cpu %.3f s\n", ext, packets.size(), Cpu() - c0);
  }
}
