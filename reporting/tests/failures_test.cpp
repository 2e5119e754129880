// Messages of the four failure classes: every code of the catalogue, the fixed texts,
// the cut at the caller's maximum, and the help context left alone.
#include "reporting/failures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "resources/testing/kv70_test_module.h"

namespace {

const char kDeviceInit[] =
    "Device failure! [%d]  - There was an error initializing communications with the KV70 on "
    "COM%d.\n\nMake sure the cables are connected correctly, restart the KV70, and try again.";
// The upload texts fill the device name, "KV70", into the same sentence.
const char* const kUploadInit = kDeviceInit;

std::string Fill(const char* format, int a, int b) {
  char text[512];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

std::string Message(CException* failure, UINT max = 1024) {
  std::string buffer(max, '\x7F');
  EXPECT_TRUE(failure->GetErrorMessage(buffer.data(), max, nullptr));
  failure->Delete();
  return std::string(buffer.c_str());
}

struct Row {
  std::function<CException*()> make;
  std::string expected;
};

void PrintTo(const Row& row, std::ostream* os) {
  *os << '"' << row.expected << '"';
}

class FailureMessages : public ::testing::TestWithParam<Row> {
 protected:
  void SetUp() override { kv70::testing::UseKV70Resources(); }
};

TEST_P(FailureMessages, FormatsAsTheCatalogueSays) {
  const Row& row = GetParam();
  EXPECT_EQ(Message(row.make()), row.expected);
}

Row Device(int code, int port, std::string expected) {
  return {[=] { return new DeviceException(code, port); }, std::move(expected)};
}
Row BD(int code, int port, std::string expected) {
  return {[=] { return new BDException(code, port); }, std::move(expected)};
}
Row FlashMon(int code, std::string expected) {
  return {[=] { return new CFlashMonException(code); }, std::move(expected)};
}
Row Serial(int port, DWORD error, int code, std::string expected) {
  return {[=] { return new CSerialComException(port, error, code); }, std::move(expected)};
}

Row Monitor(CMonitorProgramException::Problem problem, const char* path, unsigned long long detail,
            std::string expected) {
  return {[=] { return new CMonitorProgramException(problem, path, detail); }, std::move(expected)};
}

std::string FlashText(int code, const char* body) {
  return Fill(body, code, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, FailureMessages,
    ::testing::Values(
        Device(500, 3, "Operation failure!"), Device(501, 1, Fill(kDeviceInit, 501, 1)),
        Device(504, 2, Fill(kDeviceInit, 504, 2)), Device(505, 3, Fill(kDeviceInit, 505, 3)),
        Device(506, 4, Fill(kDeviceInit, 506, 4)), Device(509, 5, Fill(kDeviceInit, 509, 5)),
        Device(516, 6, Fill(kDeviceInit, 516, 6)), Device(517, 1, Fill(kDeviceInit, 517, 1)),
        Device(518, 2, Fill(kDeviceInit, 518, 2)),
        Device(519, 2,
               "Device Failure! [519] - There was an error retrieving the device configuration "
               "from the KV70 on COM2.\n\nContact technical support."),
        // Codes without a string of their own format as the empty text.
        Device(502, 1, ""), Device(510, 1, ""), Device(520, 1, ""), Device(0, 1, ""),
        BD(800, 1, "Operation Failure!"),
        BD(803, 4,
           "Device failure! [803]  - There was an error performing garbage collection for the "
           "KV70 on COM4.\n\nRestart the KV70 and try again."),
        BD(804, 1, Fill(kUploadInit, 804, 1)), BD(805, 2, Fill(kUploadInit, 805, 2)),
        BD(806, 6, Fill(kUploadInit, 806, 6)), BD(801, 1, ""), FlashMon(400, "Operation failure!"),
        FlashMon(401, FlashText(401,
                                "Erase failure! [%d] - There was a timeout waiting for a "
                                "response from the KV70.\n\nRestart the KV70 and try again.")),
        FlashMon(402, FlashText(402,
                                "Erase failure! [%d] - There was an error while erasing the "
                                "program flash on the KV70.\n\nRestart the KV70 and try again.")),
        FlashMon(403, FlashText(403,
                                "Erase failure! [%d] - There was a timeout waiting for the "
                                "erase operation to complete.\n\nRestart the KV70 and try "
                                "again.")),
        FlashMon(405, FlashText(405,
                                "Program failure! [%d] - There was an error while "
                                "programming the software on the KV70.\n\nRestart the KV70 "
                                "and try again.")),
        FlashMon(406,
                 "KV70 reboot failure! [406] - There was a timeout waiting for a response "
                 "from the KV70."),
        FlashMon(407, FlashText(407,
                                "Report failure! [%d] - There was a timeout waiting for a "
                                "response from the KV70.\n\nRestart the KV70 and try again.")),
        FlashMon(408, FlashText(408,
                                "Report failure! [%d] - There was an error retrieving data "
                                "from the KV70.\n\nRestart the KV70 and try again.")),
        FlashMon(411, FlashText(411,
                                "Read config failure! [%d] - There was a failure reading the "
                                "product information from the KV70.\n\nRestart the KV70 and "
                                "try again.")),
        FlashMon(412, FlashText(412,
                                "Command failure! [%d] - There was an error processing a "
                                "command on the KV70.\n\nRestart the KV70 and try again.")),
        FlashMon(413, FlashText(413,
                                "Command failure! [%d] - There was a timeout waiting for a "
                                "response from the KV70.\n\nRestart the KV70 and try again.")),
        FlashMon(414, FlashText(414,
                                "Erase FFS failure! [%d] - There was an error while erasing "
                                "the file system flash on the KV70.\n\nRestart the KV70 and "
                                "try again.")),
        FlashMon(415, FlashText(415,
                                "Program failure! [%d] - There was a checksum failure with "
                                "the specified software file.\n\nSelect another file and try "
                                "again.")),
        FlashMon(416, FlashText(416,
                                "Program failure! [%d] - There was an error with the "
                                "specified software file.\n\nSelect another file and try "
                                "again.")),
        FlashMon(404, ""), FlashMon(409, ""), FlashMon(410, ""),
        Serial(3, 0, 300, "COM Port Failure!"),
        Serial(5, 2, 301,
               "COM Failure! [301] There was a failure [2] attempting to open "
               "COM5.\n\nRestart your computer and try again."),
        Serial(1, 5, 302,
               "COM Failure! [302] There was a fatal error [5] with COM1.\n\nRestart "
               "your computer and try again."),
        Serial(2, 31, 303,
               "COM Failure! [303] There was a fatal error [31] with "
               "COM2.\n\nRestart your computer and try again."),
        Serial(6, 995, 304,
               "COM Failure! [304] There was a fatal error [995] with "
               "COM6.\n\nRestart your computer and try again."),
        // A 32-bit error number shows as the signed value a 32-bit long holds.
        Serial(1, 0xFFFFFFFFu, 302,
               "COM Failure! [302] There was a fatal error [-1] with "
               "COM1.\n\nRestart your computer and try again."),
        Serial(1, 0, 305, "")));

// A monitor program file that cannot be used: the file is named, and so is what is wrong.
const char kMonitorAdvice[] = "\n\nCheck VELMORA_KV70_MONITOR (--monitor-image) and try again.";
INSTANTIATE_TEST_SUITE_P(
    MonitorProgram, FailureMessages,
    ::testing::Values(
        Monitor(CMonitorProgramException::kMissing, "/opt/kv70/flashmon.bin", 0,
                std::string("Monitor program failure! The flash monitor program file "
                            "/opt/kv70/flashmon.bin does not exist.") +
                    kMonitorAdvice),
        Monitor(CMonitorProgramException::kDirectory, "/opt/kv70", 0,
                std::string("Monitor program failure! /opt/kv70 is a directory, not the flash "
                            "monitor program file.") +
                    kMonitorAdvice),
        Monitor(CMonitorProgramException::kUnreadable, "m.bin", 5,
                std::string("Monitor program failure! The flash monitor program file m.bin cannot "
                            "be read (error 5).") +
                    kMonitorAdvice),
        // Sizes beyond 32 bits show whole.
        Monitor(CMonitorProgramException::kWrongSize, "big.bin", 5000000000ull,
                std::string("Monitor program failure! The flash monitor program file big.bin is "
                            "5000000000 bytes; it must be exactly 8554.") +
                    kMonitorAdvice),
        Monitor(CMonitorProgramException::kWrongSize, "empty.bin", 0,
                std::string("Monitor program failure! The flash monitor program file empty.bin is "
                            "0 bytes; it must be exactly 8554.") +
                    kMonitorAdvice)));

// The BD texts name the device twice; the upload text is the KV70 one with %s filled.
TEST(FailureMessageRules, UploadFailureNamesTheDeviceInBothPlaces) {
  kv70::testing::UseKV70Resources();
  std::string text = Message(new BDException(804, 1));
  EXPECT_NE(text.find("communications with the KV70 on COM1."), std::string::npos);
  EXPECT_NE(text.find("restart the KV70, and try again."), std::string::npos);
  EXPECT_EQ(text.find("%s"), std::string::npos);
}

TEST(FailureMessageRules, DeviceTextsKeepTheirDoubleBlankBeforeTheDash) {
  kv70::testing::UseKV70Resources();
  EXPECT_NE(Message(new DeviceException(501, 1)).find("[501]  - "), std::string::npos);
  EXPECT_NE(Message(new BDException(803, 1)).find("[803]  - "), std::string::npos);
  EXPECT_NE(Message(new DeviceException(519, 1)).find("[519] - "), std::string::npos);
}

TEST(FailureMessageRules, LongMessagesAreCutAtMaximumLessOne) {
  kv70::testing::UseKV70Resources();
  const std::string full = Message(new DeviceException(519, 2));
  ASSERT_GT(full.size(), 100u);
  for (UINT max : {1u, 2u, 19u, 100u}) {
    char buffer[128];
    std::memset(buffer, 'x', sizeof buffer);
    CException* failure = new DeviceException(519, 2);
    EXPECT_TRUE(failure->GetErrorMessage(buffer, max, nullptr));
    failure->Delete();
    EXPECT_EQ(std::string(buffer), full.substr(0, max - 1)) << "max " << max;
    EXPECT_EQ(buffer[max], 'x') << "nothing written beyond the maximum";
  }
}

TEST(FailureMessageRules, HelpContextIsLeftUntouched) {
  kv70::testing::UseKV70Resources();
  std::unique_ptr<CException> failures[] = {
      std::make_unique<DeviceException>(501, 1), std::make_unique<BDException>(804, 1),
      std::make_unique<CFlashMonException>(406), std::make_unique<CSerialComException>(1, 2, 301)};
  for (auto& failure : failures) {
    char buffer[300];
    UINT help = 0xABCD;
    EXPECT_TRUE(failure->GetErrorMessage(buffer, sizeof buffer, &help));
    EXPECT_EQ(help, 0xABCDu);
  }
}

TEST(FailureMessageRules, RunTimeClassesCarryTheirNamesAndDeriveFromCException) {
  std::unique_ptr<CException> failures[] = {
      std::make_unique<DeviceException>(501, 1), std::make_unique<BDException>(804, 1),
      std::make_unique<CFlashMonException>(406), std::make_unique<CSerialComException>(1, 2, 301),
      std::make_unique<CMonitorProgramException>(CMonitorProgramException::kMissing, "m.bin", 0)};
  const char* names[] = {"DeviceException", "BDException", "CFlashMonException",
                         "CSerialComException", "CMonitorProgramException"};
  for (int i = 0; i < 5; ++i) {
    const CRuntimeClass* cls = failures[i]->GetRuntimeClass();
    EXPECT_STREQ(cls->m_lpszClassName, names[i]);
    EXPECT_TRUE(failures[i]->IsKindOf(RUNTIME_CLASS(CException)));
    EXPECT_FALSE(failures[i]->IsKindOf(RUNTIME_CLASS(CUserException)));
    EXPECT_TRUE(failures[i]->m_bAutoDelete);
  }
}

TEST(FailureMessageRules, FieldsKeepTheConstructorArguments) {
  CSerialComException serial(5, 2, 301);
  EXPECT_EQ(serial.m_comPort, 5);
  EXPECT_EQ(serial.m_platformError, 2u);
  EXPECT_EQ(serial.m_code, 301);
  DeviceException device(519, 2);
  EXPECT_EQ(device.m_code, 519);
  EXPECT_EQ(device.m_comPort, 2);
}

}  // namespace
