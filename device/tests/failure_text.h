// The failure a device call threw, as the device tests compare it.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "reporting/failures.h"

namespace kv70test {

// How a CFileException reads: "file", or "file:<cause>".
enum class FileFailure { kWord, kWithCause };

// The failure `body` threw: "D<code>" for DeviceException, "B<code>" for BDException
// (both checked to name COM1), "F<code>" for CFlashMonException, "file" (or
// "file:<cause>") for CFileException, "cancel" for CUserException, or "" for none. The
// object is deleted.
template <typename Body>
std::string Failure(Body body, FileFailure file = FileFailure::kWord) {
  try {
    body();
  } catch (DeviceException* e) {
    std::string s = "D" + std::to_string(e->m_code);
    EXPECT_EQ(e->m_comPort, 1);
    e->Delete();
    return s;
  } catch (BDException* e) {
    std::string s = "B" + std::to_string(e->m_code);
    EXPECT_EQ(e->m_comPort, 1);
    e->Delete();
    return s;
  } catch (CFlashMonException* e) {
    std::string s = "F" + std::to_string(e->m_code);
    e->Delete();
    return s;
  } catch (CFileException* e) {
    std::string s = file == FileFailure::kWithCause ? "file:" + std::to_string(e->m_cause) : "file";
    e->Delete();
    return s;
  } catch (CUserException* e) {
    e->Delete();
    return "cancel";
  }
  return "";
}

}  // namespace kv70test
