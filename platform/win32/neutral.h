// The meeting point of the Windows backends' two halves. The win32/api/*.cpp files
// include <windows.h> and this header only; the win32/*.cpp files include the project's
// headers and this header only. The project names types and constants as
// Windows does (DWORD, ERROR_*, HKEY, ...) with other definitions, so the two must never
// meet in one translation unit. Here there are only fixed-width integers, opaque handles,
// standard strings and plain structs; every error is a Windows error number.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace platform::win32 {

// A kernel object handle (file, port, registry key, module), opaque on this side.
using Handle = void*;
bool IsValid(Handle handle);  // neither null nor INVALID_HANDLE_VALUE
void Close(Handle handle);

// --- Files ---------------------------------------------------------------------------------
// Opens with every share mode but delete, so that the file cannot be removed or replaced
// while it is open, as Windows programs expect; never truncates.
std::uint32_t OpenFile(const std::string& path, bool read, bool write, bool create, Handle& file,
                       bool createNew = false);
std::uint32_t ReadFile(Handle file, void* buffer, std::uint32_t count, std::uint32_t& got);
std::uint32_t WriteFile(Handle file, const void* buffer, std::uint32_t count,
                        std::uint32_t& written);
// origin: 0 begin, 1 current, 2 end.
std::uint32_t Seek(Handle file, std::int64_t offset, int origin, std::uint64_t& position);
std::uint32_t Length(Handle file, std::uint64_t& length);
std::uint32_t TruncateHere(Handle file);
std::uint32_t Flush(Handle file);
// The byte-range lock that stands for a share mode: a range far past any data, so that
// it never stands in the way of reading or writing the file itself.
std::uint32_t LockShareRange(Handle file, bool exclusive, bool wait);
std::uint32_t UnlockShareRange(Handle file);
std::uint32_t KindOf(Handle file, bool& isDirectory, bool& isRegular);

struct FileInfo {
  std::uint64_t size = 0;
  std::int64_t modifiedUs = 0;  // microseconds since 1970
  bool isDirectory = false;
  bool readOnly = false;
  bool isDevice = false;  // a DOS device name such as COM5
};
std::uint32_t GetFileInfo(const std::string& path, FileInfo& info);
std::uint32_t CopyFileTo(const std::string& src, const std::string& dst, bool failIfExists);
std::uint32_t MoveReplacing(const std::string& src, const std::string& dst);
std::uint32_t RemoveFile(const std::string& path);
std::uint32_t MakeDirectory(const std::string& path);

// --- Modules -------------------------------------------------------------------------------
// The file of the module that holds `address` (null: the executable); empty when unknown.
std::string ModulePathOf(const void* address);
// Loads a DLL; on failure `why` says so and null comes back.
Handle LoadModule(const std::string& path, std::string& why);
void* FindProc(Handle module, const char* name);
void FreeLibrary(Handle module);

// --- Threads -------------------------------------------------------------------------------
// Calls cleanup(data) on the calling thread as it ends (a fiber-local slot's callback),
// latest registration first.
void CallAtThreadExit(void (*cleanup)(void*), void* data);

// --- Console -------------------------------------------------------------------------------
// Calls `onInterrupt` (on a thread of the system's) for every Ctrl-C and Ctrl-Break.
bool InstallInterruptHandler(void (*onInterrupt)());

// --- Registry ------------------------------------------------------------------------------
// Roots: 1 HKEY_CURRENT_USER, 2 HKEY_LOCAL_MACHINE.
std::uint32_t RegOpen(int root, const std::string& path, bool write, bool create, Handle& key);
// Subkey and value at `index` (ERROR_NO_MORE_ITEMS past the end).
std::uint32_t RegSubkeyAt(Handle key, std::uint32_t index, std::string& name);
struct RegValue {
  std::string name;
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};
std::uint32_t RegValueAt(Handle key, std::uint32_t index, RegValue& value);
std::uint32_t RegReadValue(Handle key, const std::string& name, RegValue& value);
std::uint32_t RegWriteValue(Handle key, const std::string& name, std::uint32_t type,
                            const std::uint8_t* data, std::size_t size);
std::uint32_t RegRemoveValue(Handle key, const std::string& name);
std::uint32_t RegRemoveSubkey(Handle key, const std::string& name);  // one without subkeys
std::uint32_t RegSubkeyCount(Handle key, std::uint32_t& count);
// A named mutex between processes, so that one registry call's reads and writes are not
// interleaved with another process's.
Handle RegLockCreate();
void RegLockTake(Handle lock);
void RegLockRelease(Handle lock);

// --- Comm ports ----------------------------------------------------------------------------
struct CommSettings {
  std::uint32_t baudRate = 0;
  std::uint8_t byteSize = 8;
  std::uint8_t parity = 0;    // NOPARITY .. SPACEPARITY
  std::uint8_t stopBits = 0;  // ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS
  bool parityCheck = false;
  bool outxCtsFlow = false;
  bool outxDsrFlow = false;
  std::uint8_t dtrControl = 0;
  std::uint8_t rtsControl = 0;
  bool outX = false;
  bool inX = false;
  char xonChar = 0x11;
  char xoffChar = 0x13;
  std::uint16_t xonLim = 0;
  std::uint16_t xoffLim = 0;
};
struct CommTimeouts {
  std::uint32_t readInterval = 0;
  std::uint32_t readMultiplier = 0;
  std::uint32_t readConstant = 0;
  std::uint32_t writeMultiplier = 0;
  std::uint32_t writeConstant = 0;
};
// `name` as the system knows it, e.g. "\\.\COM5"; opened exclusively for overlapped I/O.
std::uint32_t CommOpen(const std::string& name, Handle& port);
std::uint32_t CommGetState(Handle port, CommSettings& settings);
std::uint32_t CommSetState(Handle port, const CommSettings& settings);
std::uint32_t CommSetTimeouts(Handle port, const CommTimeouts& timeouts);
// Overlapped transfers, waited for; the port's time-outs end them.
std::uint32_t CommRead(Handle port, std::uint8_t* buffer, std::uint32_t count, std::uint32_t& got);
std::uint32_t CommWrite(Handle port, const std::uint8_t* buffer, std::uint32_t count,
                        std::uint32_t& written);
std::uint32_t CommPurge(Handle port, std::uint32_t flags);
std::uint32_t CommBreak(Handle port, bool on);
// The CE_* flags since the last call.
std::uint32_t CommClearError(Handle port, std::uint32_t& errors);
// Sets or clears DTR (as EscapeCommFunction does).
std::uint32_t CommSetDtr(Handle port, bool on);

}  // namespace platform::win32

namespace platform::win32 {

// --- Sockets -------------------------------------------------------------------------------
// A TCP connection on Winsock, non-blocking; errors are Windows error numbers as the
// project's TcpConnection gives them (ERROR_FILE_NOT_FOUND: refused, unreachable or an
// unknown host; ERROR_DEVICE_NOT_CONNECTED: the peer closed or reset it).
using Socket = std::uintptr_t;
std::uint32_t SocketConnect(const std::string& host, std::uint16_t port, std::uint32_t timeoutMs,
                            Socket& socket, bool& unknownHost);
std::uint32_t SocketSend(Socket socket, const std::uint8_t* data, std::size_t count,
                         std::size_t& sent);
std::uint32_t SocketReceive(Socket socket, std::uint8_t* buffer, std::size_t most,
                            std::size_t& got);
// `ready` false on time-out (-1: no limit).
std::uint32_t SocketWait(Socket socket, bool forSend, int timeoutMs, bool& ready);
void SocketClose(Socket socket);

}  // namespace platform::win32
