// The monitor program of a run: the embedded image, or a file named at run time that is
// checked before anything reaches the device, and uploaded byte for byte.
#include "device/monitor_program.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "device/tests/device_fixture.h"
#include "platform/testing/system_for_tests.h"
#include "resources/monitor_image.h"

namespace kv70test {
namespace {

// A directory of the test's own, removed with everything in it.
class TempDir {
 public:
  TempDir() { path_ = platform_test::MakeTempDir("kv70-monitor-"); }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  std::string File(const std::string& name, const std::vector<BYTE>& bytes) const {
    const std::string path = path_ + "/" + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Sets VELMORA_KV70_MONITOR for one scope and puts back what was there.
class MonitorVariable {
 public:
  explicit MonitorVariable(const std::optional<std::string>& value) {
    if (const char* old = std::getenv(kMonitorProgramVariable)) old_ = old;
    if (value) {
      platform_test::SetEnv(kMonitorProgramVariable, value->c_str());
    } else {
      platform_test::UnsetEnv(kMonitorProgramVariable);
    }
  }
  ~MonitorVariable() {
    if (old_) {
      platform_test::SetEnv(kMonitorProgramVariable, old_->c_str());
    } else {
      platform_test::UnsetEnv(kMonitorProgramVariable);
    }
  }

 private:
  std::optional<std::string> old_;
};

// An image of the right size that is not the embedded one: every byte differs.
std::vector<BYTE> OtherImage() {
  std::vector<BYTE> bytes(kFlashMonitorImage, kFlashMonitorImage + kFlashMonitorImageSize);
  for (BYTE& b : bytes) b = static_cast<BYTE>(~b);
  return bytes;
}

// The refusal `body` threw, as "<problem>:<detail>:<path>", or "" for none.
template <typename Body>
std::string Refusal(Body body) {
  try {
    body();
  } catch (CMonitorProgramException* e) {
    std::string s = std::to_string(e->m_problem) + ":" + std::to_string(e->m_detail) + ":" +
                    e->m_path.GetString();
    e->Delete();
    return s;
  }
  return "";
}

TEST(MonitorProgram, RefusesAFileThatCannotBeTheProgram) {
  TempDir dir;
  ASSERT_FALSE(dir.Path().empty());
  const std::vector<BYTE> good = OtherImage();
  const std::string shortFile =
      dir.File("short.bin", std::vector<BYTE>(good.begin(), good.end() - 1));
  const std::string longFile = dir.File("long.bin", [&] {
    auto b = good;
    b.push_back(0);
    return b;
  }());
  const std::string empty = dir.File("empty.bin", {});
  const std::string missing = dir.Path() + "/missing.bin";
  const std::string inMissingDir = dir.Path() + "/no-dir/flashmon.bin";
  const std::string fifo = dir.Path() + "/fifo";
  // Where the system has no FIFOs, that case is left out.
  // Symbolic links that lead to each other, and a device: where there are FIFOs there are
  // these too.
  const std::string loop = dir.Path() + "/loop-a";
  if (platform_test::HasFifos()) {
    ASSERT_TRUE(platform_test::MakeFifo(fifo));
    std::error_code ec;
    std::filesystem::create_symlink(dir.Path() + "/loop-b", loop, ec);
    ASSERT_FALSE(ec);
    std::filesystem::create_symlink(loop, dir.Path() + "/loop-b", ec);
    ASSERT_FALSE(ec);
  }

  const struct {
    const char* name;
    std::string path;
    std::string refusal;
  } cases[] = {
      {"one byte short", shortFile, "3:8553:" + shortFile},
      {"one byte long", longFile, "3:8555:" + longFile},
      {"empty", empty, "3:0:" + empty},
      {"missing", missing, "0:0:" + missing},
      {"in a missing directory", inMissingDir, "0:0:" + inMissingDir},
      {"a directory", dir.Path(), "1:0:" + dir.Path()},
      // Refused for what it is, without opening it (opening would wait for a writer).
      {"a FIFO", fifo, "4:0:" + fifo},
      {"a device", "/dev/null", "4:0:/dev/null"},
      {"a loop of symbolic links", loop, "5:0:" + loop},
  };
  for (const auto& c : cases) {
    if ((c.path == fifo || c.path == loop || c.path == "/dev/null") && !platform_test::HasFifos())
      continue;
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Refusal([&] { CMonitorProgram::FromFile(c.path); }), c.refusal);
    MonitorVariable variable(c.path);
    EXPECT_EQ(Refusal([&] { CMonitorProgram::ForRun(); }), c.refusal);
  }
}

TEST(MonitorProgram, TakesTheFileNamedByTheVariableElseTheEmbeddedImage) {
  TempDir dir;
  const std::vector<BYTE> other = OtherImage();
  const std::string path = dir.File("flashmon.bin", other);
  {
    MonitorVariable variable(path);
    const CMonitorProgram program = CMonitorProgram::ForRun();
    EXPECT_EQ(std::memcmp(program.Bytes(), other.data(), other.size()), 0);
    EXPECT_EQ(program.Origin(), "file " + path);
  }
  for (const std::optional<std::string>& unset :
       {std::optional<std::string>(), std::optional<std::string>("")}) {
    MonitorVariable variable(unset);
    const CMonitorProgram program = CMonitorProgram::ForRun();
    EXPECT_EQ(program.Bytes(), kFlashMonitorImage);
    EXPECT_EQ(program.Origin(), kFlashMonitorImageOrigin);
  }
}

// The file's bytes go out chunk by chunk, and each read-back is judged against them: a
// device that echoes the file verifies, which it would not if the embedded image were
// the yardstick.
TEST_F(DeviceTest, UploadSendsAndVerifiesTheFilesBytes) {
  TempDir dir;
  const std::vector<BYTE> other = OtherImage();
  const CMonitorProgram program = CMonitorProgram::FromFile(dir.File("flashmon.bin", other));
  device.SetMonitorImage(program.Bytes());
  port.SetSpeed(CSerialCom::SPEED_38400);
  EXPECT_EQ(Failure([&] { device.UploadMonitor(20, 70); }), "");
  ASSERT_EQ(rom.frames.size(), 35u * 2 + 1);
  std::vector<BYTE> sent;
  for (size_t k = 0; k < 35; ++k) {
    const RomFrame& write = rom.frames[2 * k];
    EXPECT_EQ(write.address, 0x200000 + 251 * k);
    sent.insert(sent.end(), write.payload.begin(), write.payload.end());
    EXPECT_EQ(rom.frames[2 * k + 1].type, 0x80) << "each chunk is read back once";
  }
  EXPECT_EQ(sent, other);
}

}  // namespace
}  // namespace kv70test
