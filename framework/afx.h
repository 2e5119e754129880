// The application framework the plug-in is written on: a small stand-in with the names
// and behaviour the plug-in relies on (objects with run-time classes, strings, pointer
// arrays, exceptions thrown by pointer, files, the application object and module state,
// string-table loading, message boxes). Windows, dialogs and pages are in afxwin.h.
#pragma once
#include <cstdarg>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/module.h"
#include "platform/msgbox.h"
#include "platform/winbase.h"

using ULONGLONG = std::uint64_t;
using LONGLONG = std::int64_t;

#define AFX_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

// ---------------------------------------------------------------------------------------
// Run-time classes

struct CRuntimeClass {
  const char* m_lpszClassName;
  int m_nObjectSize;
  const CRuntimeClass* m_pBaseClass;
  bool IsDerivedFrom(const CRuntimeClass* base) const;
};

#define RUNTIME_CLASS(class_name) (&class_name::class##class_name)
#define DECLARE_DYNAMIC(class_name)             \
 public:                                        \
  static const CRuntimeClass class##class_name; \
  const CRuntimeClass* GetRuntimeClass() const override;
#define IMPLEMENT_DYNAMIC(class_name, base_class_name)                                  \
  const CRuntimeClass class_name::class##class_name = {#class_name, sizeof(class_name), \
                                                       RUNTIME_CLASS(base_class_name)}; \
  const CRuntimeClass* class_name::GetRuntimeClass() const {                            \
    return RUNTIME_CLASS(class_name);                                                   \
  }

class CObject {
 public:
  static const CRuntimeClass classCObject;
  virtual const CRuntimeClass* GetRuntimeClass() const;
  virtual ~CObject() = default;
  virtual void AssertValid() const {}
  virtual void Dump() const {}
  bool IsKindOf(const CRuntimeClass* cls) const;

 protected:
  CObject() = default;
  CObject(const CObject&) = default;
  CObject& operator=(const CObject&) = default;
};

// ---------------------------------------------------------------------------------------
// Strings

class CString {
 public:
  CString() = default;
  CString(const char* text);  // NOLINT: converts like the framework's string does
  CString(const char* text, int length);
  CString(const std::string& text) : s_(text) {}  // NOLINT
  CString(char ch, int repeat = 1) : s_(repeat > 0 ? repeat : 0, ch) {}

  int GetLength() const { return static_cast<int>(s_.size()); }
  bool IsEmpty() const { return s_.empty(); }
  void Empty() { s_.clear(); }
  const char* GetString() const { return s_.c_str(); }
  operator const char*() const { return s_.c_str(); }  // NOLINT
  const std::string& str() const { return s_; }

  char GetAt(int i) const { return s_[static_cast<size_t>(i)]; }
  char operator[](int i) const { return s_[static_cast<size_t>(i)]; }
  void SetAt(int i, char ch) { s_[static_cast<size_t>(i)] = ch; }

  CString& operator=(const char* text);
  CString& operator+=(const char* text);
  CString& operator+=(const CString& text) {
    s_ += text.s_;
    return *this;
  }
  CString& operator+=(char ch) {
    s_ += ch;
    return *this;
  }
  friend CString operator+(const CString& a, const CString& b) { return CString(a.s_ + b.s_); }
  friend CString operator+(const CString& a, const char* b) {
    CString r(a);
    r += b;
    return r;
  }
  friend CString operator+(const char* a, const CString& b) {
    CString r(a);
    r += b;
    return r;
  }
  friend CString operator+(const CString& a, char b) {
    CString r(a);
    r += b;
    return r;
  }
  friend bool operator==(const CString& a, const CString& b) { return a.s_ == b.s_; }
  friend bool operator==(const CString& a, const char* b) { return a.Compare(b) == 0; }
  friend bool operator!=(const CString& a, const CString& b) { return a.s_ != b.s_; }
  friend bool operator!=(const CString& a, const char* b) { return a.Compare(b) != 0; }
  friend bool operator<(const CString& a, const CString& b) { return a.s_ < b.s_; }

  int Compare(const char* text) const;        // strcmp
  int CompareNoCase(const char* text) const;  // ASCII case-insensitive, like _stricmp

  CString Left(int count) const;
  CString Right(int count) const;
  CString Mid(int first, int count = -1) const;
  int Find(char ch, int start = 0) const;
  int Find(const char* sub, int start = 0) const;
  int ReverseFind(char ch) const;
  void MakeUpper();
  void MakeLower();
  void TrimLeft();
  void TrimRight();
  int Replace(char from, char to);

  // printf-style formatting. Arguments follow the C rules: pass `long` for "%ld".
  void Format(const char* format, ...) AFX_PRINTF(2, 3);
  // Formats with a string-table entry as the format (an id without a string gives "").
  void Format(UINT formatId, ...);
  void FormatV(const char* format, va_list args);

  // Loads a string-table entry from the current resource module (then the other
  // registered modules). A missing id leaves the string empty and returns FALSE.
  BOOL LoadString(UINT id);

  // Direct buffer access, as the framework offers it.
  char* GetBuffer(int minLength);
  void ReleaseBuffer(int newLength = -1);

 private:
  std::string s_;
};

// lstrcpyn semantics: copies at most max-1 characters and always terminates (max > 0).
void AfxCopyTruncated(char* dest, const char* src, UINT max);

// ---------------------------------------------------------------------------------------
// Pointer array

class CPtrArray : public CObject {
 public:
  CPtrArray() = default;
  ~CPtrArray() override = default;
  int GetSize() const { return static_cast<int>(items_.size()); }
  int GetCount() const { return GetSize(); }
  int GetUpperBound() const { return GetSize() - 1; }
  void SetSize(int newSize, int growBy = -1);
  void* GetAt(int i) const { return items_.at(static_cast<size_t>(i)); }
  void SetAt(int i, void* p) { items_.at(static_cast<size_t>(i)) = p; }
  void*& ElementAt(int i) { return items_.at(static_cast<size_t>(i)); }
  void* operator[](int i) const { return GetAt(i); }
  void*& operator[](int i) { return ElementAt(i); }
  int Add(void* p);
  void InsertAt(int i, void* p);
  void RemoveAt(int i, int count = 1);
  void RemoveAll() { items_.clear(); }
  void* const* GetData() const { return items_.data(); }

 private:
  std::vector<void*> items_;
};

// ---------------------------------------------------------------------------------------
// Exceptions: heap objects thrown by pointer, ended by Delete().

class CException : public CObject {
  DECLARE_DYNAMIC(CException)
 public:
  explicit CException(BOOL autoDelete = TRUE) : m_bAutoDelete(autoDelete) {}
  ~CException() override = default;
  // Deletes the object when it was created for automatic deletion.
  void Delete();
  // Copies the message (lstrcpyn semantics) and returns TRUE; the base has no message.
  virtual BOOL GetErrorMessage(LPTSTR error, UINT maxError, PUINT helpContext = nullptr);
  // Shows the message in the framework's message box (or the given string-table text
  // when there is no message) and returns the button pressed.
  virtual int ReportError(UINT type = MB_OK, UINT messageId = 0);

  BOOL m_bAutoDelete;
};

class CUserException : public CException {
  DECLARE_DYNAMIC(CUserException)
};

class CMemoryException : public CException {
  DECLARE_DYNAMIC(CMemoryException)
 public:
  BOOL GetErrorMessage(LPTSTR error, UINT maxError, PUINT helpContext = nullptr) override;
};

class CFileException : public CException {
  DECLARE_DYNAMIC(CFileException)
 public:
  enum {
    none = 0,
    genericException = 1,
    fileNotFound = 2,
    badPath = 3,
    tooManyOpenFiles = 4,
    accessDenied = 5,
    invalidFile = 6,
    removeCurrentDir = 7,
    directoryFull = 8,
    badSeek = 9,
    hardIO = 10,
    sharingViolation = 11,
    lockViolation = 12,
    diskFull = 13,
    endOfFile = 14,
  };
  explicit CFileException(int cause = none, LONG osError = -1, LPCTSTR fileName = nullptr);
  // The framework's standard text for the cause, with the file name filled in ("an
  // unnamed file" when there is none).
  BOOL GetErrorMessage(LPTSTR error, UINT maxError, PUINT helpContext = nullptr) override;
  // Cause for a Windows error number.
  static int OsErrorToException(LONG osError);
  static void ThrowOsError(LONG osError, LPCTSTR fileName = nullptr);

  int m_cause;
  LONG m_lOsError;
  CString m_strFileName;
};

[[noreturn]] void AfxThrowUserException();
[[noreturn]] void AfxThrowMemoryException();
[[noreturn]] void AfxThrowFileException(int cause, LONG osError = -1, LPCTSTR fileName = nullptr);

// ---------------------------------------------------------------------------------------
// Files. Share modes are enforced between openers with advisory locks: exclusive and
// deny-write openers exclude each other as on Windows.

class CFile : public CObject {
  DECLARE_DYNAMIC(CFile)
 public:
  enum OpenFlags : UINT {
    modeRead = 0x0000,
    modeWrite = 0x0001,
    modeReadWrite = 0x0002,
    shareCompat = 0x0000,
    shareExclusive = 0x0010,
    shareDenyWrite = 0x0020,
    shareDenyRead = 0x0030,
    shareDenyNone = 0x0040,
    modeNoInherit = 0x0080,
    modeCreate = 0x1000,
    modeNoTruncate = 0x2000,
    typeText = 0x4000,
    typeBinary = 0x8000,
    // Ours: create the file here or fail with "already exists" (a file that appeared
    // after the user was asked about a new one is not theirs to replace).
    modeCreateNew = 0x10000,
  };
  enum SeekPosition : UINT { begin = 0, current = 1, end = 2 };

  CFile();
  // Opens or throws CFileException.
  CFile(LPCTSTR fileName, UINT openFlags);
  ~CFile() override;  // closes without throwing
  // A copy would close the same descriptor twice.
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;

  // Returns FALSE and fills *error (when given) instead of throwing.
  virtual BOOL Open(LPCTSTR fileName, UINT openFlags, CFileException* error = nullptr);
  virtual UINT Read(void* buffer, UINT count);
  virtual void Write(const void* buffer, UINT count);
  virtual ULONGLONG Seek(LONGLONG offset, UINT from);
  void SeekToBegin() { Seek(0, begin); }
  ULONGLONG SeekToEnd() { return Seek(0, end); }
  virtual ULONGLONG GetPosition() const;
  virtual ULONGLONG GetLength() const;
  virtual void Flush();
  virtual void Close();  // throws on a failed close
  virtual void Abort();  // closes, never throws
  bool IsOpen() const { return m_hFile >= 0; }
  CString GetFilePath() const { return m_strFileName; }

  static void Remove(LPCTSTR fileName);  // throws CFileException

  int m_hFile;  // file descriptor; -1 when closed

 protected:
  CString m_strFileName;
};

// A buffered file; in text mode a CR LF pair reads as a single '\n' (in Read and
// ReadString alike), and positions and lengths are bytes of the file.
class CStdioFile : public CFile {
  DECLARE_DYNAMIC(CStdioFile)
 public:
  CStdioFile();
  CStdioFile(LPCTSTR fileName, UINT openFlags);
  ~CStdioFile() override;

  BOOL Open(LPCTSTR fileName, UINT openFlags, CFileException* error = nullptr) override;
  UINT Read(void* buffer, UINT count) override;
  void Write(const void* buffer, UINT count) override;
  ULONGLONG Seek(LONGLONG offset, UINT from) override;
  ULONGLONG GetPosition() const override;
  ULONGLONG GetLength() const override;
  void Flush() override;
  void Close() override;
  void Abort() override;

  // Reads one line without its line end; FALSE at the end of the file.
  virtual BOOL ReadString(CString& line);
  virtual void WriteString(LPCTSTR text);

 private:
  bool FillBuffer();
  void DropReadBuffer();
  bool FlushWrites(bool throwOnError);
  bool text_ = false;
  std::vector<char> buf_;
  size_t bufPos_ = 0;       // next unread byte in buf_
  size_t bufLen_ = 0;       // valid bytes in buf_
  ULONGLONG bufStart_ = 0;  // file offset of buf_[0]
  bool writing_ = false;
};

// ---------------------------------------------------------------------------------------
// Application object and module state

class CWinApp;

// Per-module state: which module's resources to use and which application object
// framework calls see. Each thread has a current state; every export of a plug-in
// switches to the plug-in's state on entry (AFX_MANAGE_STATE) and restores on exit.
struct AFX_MODULE_STATE {
  HINSTANCE m_hCurrentInstanceHandle = nullptr;
  HINSTANCE m_hCurrentResourceHandle = nullptr;
  CWinApp* m_pCurrentWinApp = nullptr;
  LPCTSTR m_lpszCurrentAppName = nullptr;
};

AFX_MODULE_STATE* AfxGetModuleState();     // the calling thread's current state
AFX_MODULE_STATE* AfxGetAppModuleState();  // the process's own (host) state

class AFX_MAINTAIN_STATE {
 public:
  explicit AFX_MAINTAIN_STATE(AFX_MODULE_STATE* state);
  ~AFX_MAINTAIN_STATE();
  AFX_MAINTAIN_STATE(const AFX_MAINTAIN_STATE&) = delete;
  AFX_MAINTAIN_STATE& operator=(const AFX_MAINTAIN_STATE&) = delete;

 private:
  AFX_MODULE_STATE* previous_;
};
#define AFX_MANAGE_STATE(state) AFX_MAINTAIN_STATE _afxManagedState(state)

HINSTANCE AfxGetResourceHandle();
void AfxSetResourceHandle(HINSTANCE module);
HINSTANCE AfxGetInstanceHandle();
CWinApp* AfxGetApp();
LPCTSTR AfxGetAppName();
// The module holding a resource: the current resource module first, then every
// registered extension module, then the process's own.
HINSTANCE AfxFindResourceHandle(UINT id, int type);
void AfxRegisterExtensionModule(HINSTANCE module);
void AfxUnregisterExtensionModule(HINSTANCE module);

// Message box with the application name as caption, owned by nobody.
int AfxMessageBox(LPCTSTR text, UINT type = MB_OK, UINT helpId = 0);
int AfxMessageBox(UINT promptId, UINT type = MB_OK, UINT helpId = UINT(-1));

class CWinApp : public CObject {
  DECLARE_DYNAMIC(CWinApp)
 public:
  // Without a name the application is named after its module file, without extension.
  explicit CWinApp(LPCTSTR appName = nullptr);
  ~CWinApp() override;
  virtual BOOL InitInstance() { return TRUE; }
  virtual int ExitInstance() { return 0; }
  // Profile settings then live under HKEY_CURRENT_USER\Software\<key>\<profile name>.
  void SetRegistryKey(LPCTSTR key);

  // Heap strings (malloc/free), as the framework keeps them; an application may free
  // m_pszProfileName and replace it with its own strdup'ed text.
  LPCTSTR m_pszAppName = nullptr;
  LPCTSTR m_pszRegistryKey = nullptr;
  LPCTSTR m_pszProfileName = nullptr;
  HINSTANCE m_hInstance = nullptr;
};

// Start-up and shut-down of a plug-in module, called from its load and unload hooks:
// sets up the module's state for `app`, registers the module with its resources, runs
// InitInstance (on failure ExitInstance, and the result is FALSE); detach runs
// ExitInstance and ends the registration.
BOOL AfxDllProcessAttach(AFX_MODULE_STATE* state, CWinApp* app, HINSTANCE module);
void AfxDllProcessDetach(AFX_MODULE_STATE* state, CWinApp* app);
