// The programming phase of a software upgrade against the simulated KV70, in virtual
// time: a 2 MiB image of varying-length records with gaps streamed with ProgramImage
// over a connected device. Prints the phase's virtual time against the floor of the
// bytes it must send at 38400 bit/s (10 bits a byte) and exits 1 when the ratio is above
// 1.05 or the flash does not hold the image.
//   upgrade_bench [seed]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "device/kv70_device.h"
#include "device/kv70_tables.h"
#include "device/srecord_image.h"
#include "models/srecord_file.h"
#include "platform/clock.h"
#include "protocol/testing/test_run.h"
#include "reporting/failures.h"
#include "resources/testing/kv70_test_module.h"
#include "serial/serial_com.h"
#include "sim/sim_port.h"
#include "tests/e2e/upgrade_image.h"

namespace {

constexpr double kMaxRatio = 1.05;
constexpr double kFloorUsPerByte = 10.0 * 1e6 / 38400;

bool FlashHolds(const kv70::upgrade::Image& image, kv70sim::Device& device) {
  const auto flash = device.ProgFlash();
  for (const auto& r : image.records)
    for (std::size_t i = 0; i < r.data.size(); ++i)
      if (flash[r.address - kv70::upgrade::kProgramFlash + i] != r.data[i]) return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kv70::upgrade;
  kv70::testing::UseKV70Resources();
  platform::VirtualClock clock;
  platform::ScopedClock useClock(clock);
  kv70sim::RegisterInProcessBackend();
  setenv("VELMORA_COM1", "sim:breaks=1", 1);

  ImageOptions options;
  if (argc > 1) options.seed = static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 0));
  const Image image = MakeImage(options);
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("kv70_upgrade_bench_" + std::to_string(::getpid()) + ".x"))
                               .string();
  WriteImage(image, path);
  const auto blocks = ExpectedBlocks(image);
  const std::uint64_t requestBytes = RequestBytes(blocks);

  kv70test::TestRun run;
  CSerialCom port;
  double virtualS = 0;
  double realS = 0;
  bool ok = false;
  try {
    port.Open(1, 1, 0, 0, 6);
    CKV70Device device(port, run.record);
    device.Connect();
    device.EraseProgramFlash();
    CSRecordFile file(path.c_str());
    file.OpenAndCheck();
    const std::uint64_t startUs = clock.NowUs();
    const auto realStart = std::chrono::steady_clock::now();
    ProgramImage(file, device.GetCommandCode(kProgramIndex), device.GetLink());
    virtualS = static_cast<double>(clock.NowUs() - startUs) / 1e6;
    realS = std::chrono::duration<double>(std::chrono::steady_clock::now() - realStart).count();
    ok = FlashHolds(image, *kv70sim::LastInstance());
  } catch (CException* e) {
    char text[512] = {};
    e->GetErrorMessage(text, sizeof text);
    std::fprintf(stderr, "upgrade_bench: %s\n", text);
    e->Delete();
  }
  port.Close();
  std::filesystem::remove(path);
  unsetenv("VELMORA_COM1");
  kv70sim::ForgetInstances();

  const double floorS = static_cast<double>(requestBytes) * kFloorUsPerByte / 1e6;
  const double ratio = floorS > 0 ? virtualS / floorS : 0;
  std::printf(
      "image: %zu data bytes in %zu records, %zu gaps; %zu program requests, %llu request bytes\n",
      image.dataBytes, image.records.size(), image.gaps, blocks.size(),
      static_cast<unsigned long long>(requestBytes));
  std::printf(
      "programming: %.1f s virtual (%.2f s real); floor at 38400 bit/s %.1f s; ratio %.4f (limit "
      "%.2f)\n",
      virtualS, realS, floorS, ratio, kMaxRatio);
  if (!ok) {
    std::printf("FAILED: program flash does not hold the image\n");
    return 1;
  }
  if (ratio > kMaxRatio) {
    std::printf("FAILED: ratio above %.2f\n", kMaxRatio);
    return 1;
  }
  return 0;
}
