// The fault matrix: the file-system dump and the software upgrade, each under every fault
// the simulator can show, over many seeds. Whatever the fault does, a run must end in a
// correct result (the log file is the flash; program flash is the file over erased
// bytes), a failure the user was told about, or a cancellation. A success with wrong
// data, a failure nobody was told about, or a stopped dump whose log file holds anything
// but whole blocks of the flash as it is, is a fault of the plug-in.
//
// A run that would wait for ever (a monitor that never answers, say) is cancelled as a
// user would cancel it, after a generous stretch of virtual time; it counts as cancelled.
//
// The matrix (fault x outcome counts) is printed for each operation; KV70_MATRIX_SEEDS
// overrides the number of seeds (20).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "tests/e2e/e2e_harness.h"
#include "tests/e2e/upgrade_image.h"
#include "tests/fault_matrix/operation_runs.h"

namespace {

namespace fs = std::filesystem;
namespace up = kv70::upgrade;
using kv70::e2e::Harness;
using kv70::e2e::RunOutcome;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kFsMb = 1;
constexpr std::uint32_t kImageBytes = 0x8000;
// Virtual time after which a run is cancelled as a tired user would: far beyond any
// run that makes progress (a 1 MiB dump needs under five minutes of line time).
constexpr std::uint64_t kPatienceUs = 3600ull * 1000 * 1000;

enum Outcome {
  kCorrect,
  kFailedReported,
  kCancelled,
  kFalseSuccess,
  kFailedUnreported,
  kBadPartial,
  kOther,
  kOutcomes
};
const char* const kOutcomeNames[kOutcomes] = {"correct",       "failed+told",   "cancelled",
                                              "FALSE-SUCCESS", "FAILED-UNTOLD", "BAD-PARTIAL",
                                              "OTHER"};

int Seeds() {
  if (const char* text = std::getenv("KV70_MATRIX_SEEDS"); text && *text)
    return std::max(1, std::atoi(text));
  return 20;
}

std::string Stretch(std::uint64_t from, std::uint64_t to) {
  return std::to_string(from) + "-" + std::to_string(to);
}

// One fault: a name for the matrix and the simulator settings it adds for a seed.
struct Fault {
  const char* name;
  std::function<std::string(std::mt19937_64&)> settings;
  // Cancel after this many progress messages (0: never); drawn per seed.
  std::function<std::size_t(std::mt19937_64&)> cancelAfter = nullptr;
};

std::uint64_t Draw(std::mt19937_64& rng, std::uint64_t first, std::uint64_t last) {
  return std::uniform_int_distribution<std::uint64_t>(first, last)(rng);
}

// `exchanges` and `runMs`: the size of a clean run of the operation, so that pulls land
// anywhere in it, at the start, in the middle or near the end.
std::vector<Fault> Faults(std::uint64_t exchanges, std::uint64_t runMs) {
  return {
      {"none", [](auto&) { return std::string(); }},
      {"cable pull (exchanges)",
       [=](auto& rng) {
         const std::uint64_t from = Draw(rng, 1, exchanges);
         std::string s = "pull=" + Stretch(from, from + Draw(rng, 0, 40));
         if (Draw(rng, 0, 1)) {
           const std::uint64_t again = Draw(rng, 1, exchanges);
           s += ",pull=" + Stretch(again, again + Draw(rng, 0, 5));
         }
         return s;
       }},
      {"cable pull (time)",
       [=](auto& rng) {
         const std::uint64_t from = Draw(rng, 0, runMs);
         return "pull-ms=" + Stretch(from, from + Draw(rng, 50, 30000));
       }},
      {"noise", [](auto& rng) { return "noise=" + std::to_string(Draw(rng, 1, 64)); }},
      {"foreign frames", [](auto&) { return std::string("foreign=1"); }},
      {"corrupted replies (some)",
       [](auto& rng) {
         const std::uint64_t from = Draw(rng, 1, 60);
         return "bad-checksum=" + Stretch(from, from + Draw(rng, 0, 3));
       }},
      {"corrupted replies (rate)",
       [](auto& rng) {
         static const char* const kRates[] = {"0.01", "0.05", "0.2", "0.5", "1"};
         return std::string("bad-checksum-rate=") + kRates[Draw(rng, 0, 4)];
       }},
      {"busy flash",
       [](auto& rng) {
         static const char* const kPolls[] = {"0", "20", "200", "5000", "forever"};
         return std::string("erase-busy=") + kPolls[Draw(rng, 0, 4)];
       }},
      {"refusing flash",
       [](auto& rng) {
         if (Draw(rng, 0, 3) == 0) return std::string("program-refuse=all");
         const std::uint64_t from = Draw(rng, 1, 120);
         return "program-refuse=" + Stretch(from, from + Draw(rng, 0, 10));
       }},
      {"silent monitor", [](auto&) { return std::string("monitor-silent=1"); }},
      {"wrong config length",
       [](auto& rng) {
         static const int kLengths[] = {0, 1, 100, 183, 185, 1024};
         return "config-len=" + std::to_string(kLengths[Draw(rng, 0, 5)]);
       }},
      {"user cancels", [](auto&) { return std::string(); },
       [](auto& rng) { return static_cast<std::size_t>(Draw(rng, 1, 60)); }},
  };
}

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Cancels the run, once, when virtual time passes the deadline; counts as the user.
class PatientUser {
 public:
  PatientUser(Harness& h) : h_(h), clock_(*this) {}
  void Arm() {
    deadline_ = h_.Clock().NowUs() + kPatienceUs;
    fired_ = false;
  }
  bool Fired() const { return fired_; }

 private:
  class Watch final : public platform::Clock {
   public:
    explicit Watch(PatientUser& user) : user_(user) {}
    std::uint64_t NowMs() override { return user_.h_.Clock().NowMs(); }
    std::uint64_t NowUs() override { return user_.h_.Clock().NowUs(); }
    void SleepMs(std::uint32_t ms) override {
      user_.h_.Clock().SleepMs(ms);
      user_.Check();
    }
    void SleepUs(std::uint64_t us) override {
      user_.h_.Clock().SleepUs(us);
      user_.Check();
    }
    bool IsVirtual() const override { return true; }

   private:
    PatientUser& user_;
  };
  void Check() {
    if (!fired_ && h_.Clock().NowUs() > deadline_) {
      fired_ = true;
      h_.SignalCancel();
    }
  }

  Harness& h_;
  Watch clock_;
  platform::ScopedClock use_{clock_};
  std::uint64_t deadline_ = UINT64_MAX;
  bool fired_ = false;
};

struct Matrix {
  std::vector<std::string> faults;
  std::map<std::string, std::array<int, kOutcomes>> counts;
  std::vector<std::string> bad;  // reproductions of the runs that broke the rule

  void Add(const std::string& fault, Outcome outcome) {
    if (!counts.count(fault)) {
      faults.push_back(fault);
      counts[fault] = {};
    }
    ++counts[fault][outcome];
  }
  void Print(const char* title) const {
    std::printf("\n%s\n%-26s", title, "fault");
    for (const char* name : kOutcomeNames) std::printf(" %13s", name);
    std::printf("\n");
    std::array<int, kOutcomes> total{};
    for (const std::string& fault : faults) {
      std::printf("%-26s", fault.c_str());
      for (int o = 0; o < kOutcomes; ++o) {
        std::printf(" %13d", counts.at(fault)[o]);
        total[o] += counts.at(fault)[o];
      }
      std::printf("\n");
    }
    std::printf("%-26s", "total");
    for (int o = 0; o < kOutcomes; ++o) std::printf(" %13d", total[o]);
    std::printf("\n");
    for (const std::string& line : bad) std::printf("  broke the rule: %s\n", line.c_str());
    std::fflush(stdout);
  }
  int Count(Outcome o) const {
    int n = 0;
    for (const auto& [fault, row] : counts) n += row[o];
    return n;
  }
};

class FaultMatrixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(h.Loaded());
    dir = fs::temp_directory_path() /
          ("kv70_fault_matrix_" + std::to_string(::getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    h.Ui().SetQuestionAnswer(IDYES);
  }
  void TearDown() override { fs::remove_all(dir); }

  // Runs the operation on a fresh device and classifies what came out. `partialIsSound`
  // judges what a failed or cancelled run left behind.
  Outcome RunOnce(
      int operation, const std::string& settings, std::size_t cancelAfter,
      const std::function<bool()>& resultIsCorrect,
      const std::function<bool()>& partialIsSound = [] { return true; }) {
    h.ClearCancel();
    if (cancelAfter) h.CancelAfterProgressMessages(cancelAfter);
    h.UseDevice(settings);
    h.Ui().ClearBoxes();
    user.Arm();
    const RunOutcome run = h.Run(operation);
    if (run.result == OPERATION_SUCCEEDED) return resultIsCorrect() ? kCorrect : kFalseSuccess;
    if (run.result != OPERATION_CANCELED && run.result != OPERATION_FAILED) return kOther;
    if (!partialIsSound()) return kBadPartial;
    if (run.result == OPERATION_CANCELED) return kCancelled;
    if (run.result == OPERATION_FAILED)
      return run.boxes.empty() ? kFailedUnreported : kFailedReported;
    return kOther;
  }

  Harness h;
  PatientUser user{h};
  fs::path dir;
};

TEST_F(FaultMatrixTest, DumpEndsInTheFlashOrAReportedFailure) {
  // A random image: a block misplaced or garbled anywhere shows in the comparison.
  Bytes image(kFsMb << 20);
  std::mt19937_64 fill(70);
  for (std::size_t i = 0; i < image.size(); i += 8) {
    const std::uint64_t r = fill();
    std::memcpy(image.data() + i, &r, 8);
  }
  const fs::path imagePath = dir / "flash.bin";
  std::ofstream(imagePath, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()),
             static_cast<std::streamsize>(image.size()));
  const std::string device = "fs-mb=" + std::to_string(kFsMb) + ",fs-image=" + imagePath.string();
  const fs::path log = dir / "kv70.log";

  Matrix matrix;
  for (const Fault& fault : Faults(1500, 300000)) {
    for (int seed = 1; seed <= Seeds(); ++seed) {
      std::mt19937_64 rng(static_cast<std::uint64_t>(seed) * 7919 + std::strlen(fault.name));
      std::string settings = device + ",seed=" + std::to_string(seed);
      const std::string extra = fault.settings(rng);
      if (!extra.empty()) settings += "," + extra;
      const std::size_t cancelAfter = fault.cancelAfter ? fault.cancelAfter(rng) : 0;
      fs::remove(log);
      ASSERT_TRUE(kv70::matrix::ChooseLogFile(h, log.string()));
      const Outcome outcome = RunOnce(
          kv70::e2e::kFileSystemDump, settings, cancelAfter,
          [&] {
            auto sim = h.Simulator();
            if (!sim) return false;
            Bytes flash;
            {
              std::lock_guard lock(sim->Mutex());
              flash.assign(sim->FsFlash().begin(), sim->FsFlash().end());
            }
            return flash == image && ReadFile(log) == flash;
          },
          [&] {
            // A dump that stopped leaves the blocks written so far: whole blocks, each the
            // flash's own bytes.
            if (!fs::exists(log)) return true;
            const Bytes partial = ReadFile(log);
            return partial.size() % 1024 == 0 && partial.size() <= image.size() &&
                   std::equal(partial.begin(), partial.end(), image.begin());
          });
      matrix.Add(fault.name, outcome);
      if (outcome >= kFalseSuccess)
        matrix.bad.push_back(
            std::string(kOutcomeNames[outcome]) + ": dump, sim:" + settings +
            (cancelAfter ? ", cancel after " + std::to_string(cancelAfter) + " progress messages"
                         : ""));
    }
  }
  matrix.Print("File system dump (1 MiB), runs per outcome");
  EXPECT_EQ(matrix.Count(kFalseSuccess), 0);
  EXPECT_EQ(matrix.Count(kFailedUnreported), 0);
  EXPECT_EQ(matrix.Count(kBadPartial), 0);
  EXPECT_EQ(matrix.Count(kOther), 0);
  EXPECT_GT(matrix.Count(kCorrect), 0);
}

TEST_F(FaultMatrixTest, UpgradeEndsInTheFileOrAReportedFailure) {
  up::ImageOptions options;
  options.end = up::kProgramFlash + kImageBytes;
  options.gapOneIn = 40;
  const up::Image image = up::MakeImage(options);
  const fs::path file = dir / "application.x";
  up::WriteImage(image, file.string());
  // Program flash as it must be after a good run: the file's bytes over erased flash.
  Bytes expected(up::kProgramFlashSize, 0xFF);
  for (const auto& r : image.records)
    std::copy(r.data.begin(), r.data.end(), expected.begin() + (r.address - up::kProgramFlash));
  ASSERT_TRUE(kv70::matrix::OfferFirmware(h, "KV70 application", file.string()));

  Matrix matrix;
  for (const Fault& fault : Faults(400, 60000)) {
    for (int seed = 1; seed <= Seeds(); ++seed) {
      std::mt19937_64 rng(static_cast<std::uint64_t>(seed) * 104729 + std::strlen(fault.name));
      std::string settings = "seed=" + std::to_string(seed);
      const std::string extra = fault.settings(rng);
      if (!extra.empty()) settings += "," + extra;
      const std::size_t cancelAfter = fault.cancelAfter ? fault.cancelAfter(rng) : 0;
      const Outcome outcome = RunOnce(kv70::e2e::kSoftwareUpgrade, settings, cancelAfter, [&] {
        auto sim = h.Simulator();
        if (!sim) return false;
        std::lock_guard lock(sim->Mutex());
        const auto flash = sim->ProgFlash();
        return Bytes(flash.begin(), flash.end()) == expected;
      });
      matrix.Add(fault.name, outcome);
      if (outcome >= kFalseSuccess)
        matrix.bad.push_back(
            std::string(kOutcomeNames[outcome]) + ": upgrade, sim:" + settings +
            (cancelAfter ? ", cancel after " + std::to_string(cancelAfter) + " progress messages"
                         : ""));
    }
  }
  matrix.Print("Software upgrade (32 KiB image with gaps), runs per outcome");
  EXPECT_EQ(matrix.Count(kFalseSuccess), 0);
  EXPECT_EQ(matrix.Count(kFailedUnreported), 0);
  EXPECT_EQ(matrix.Count(kBadPartial), 0);
  EXPECT_EQ(matrix.Count(kOther), 0);
  EXPECT_GT(matrix.Count(kCorrect), 0);
}

}  // namespace
