// Modules and their resources. A module (the plug-in, the host) registers a table of
// resources held as data: strings, dialog templates, bitmaps, raw data. The version block
// is different: as on Windows it is read from the module's file on disk, where the
// module embeds it (see version block format below).
#pragma once
#include <cstddef>
#include <string>

#include "winbase.h"

// Resource types, numbered as on Windows.
constexpr int RT_BITMAP = 2;
constexpr int RT_DIALOG = 5;
constexpr int RT_STRING = 6;
constexpr int RT_RCDATA = 10;
constexpr int RT_VERSION = 16;

namespace platform {

struct ResourceEntry {
  int type;
  UINT id;
  const void* data;  // RT_STRING: const char* text; others: the resource's own type
  std::size_t size;  // bytes (RT_STRING: length of the text)
};

// Registers a module. `addressInside` is any address within the module's code or data,
// from which its file path is found. The table must outlive the registration.
HMODULE RegisterModule(const char* name, const void* addressInside, const ResourceEntry* table,
                       std::size_t count);
void UnregisterModule(HMODULE module);

// A null module searches every registered module, in the order of registration.
const ResourceEntry* FindResource(HMODULE module, UINT id, int type);
// Module file path into buffer (at most size-1 characters and a terminator); returns
// the length copied, 0 on failure. A null module names the running executable.
DWORD GetModuleFileName(HMODULE module, char* buffer, DWORD size);
std::string GetModuleName(HMODULE module);

// Version block, read from a module's file.
//
// Layout inside the file (the module embeds it as a data object):
//   "VS_VERSION_INFO" 0x00 0xFE 0xEF   magic (18 bytes)
//   u16 little-endian: number of bytes that follow up to and including the end mark
//   then pairs of zero-terminated strings: key, value; keys are full query paths such as
//   "\StringFileInfo\040904B0\ProductVersion"
//   end mark: one 0x00 byte where a key would start
// Returns the size of the block (0 when there is none or the file cannot be read).
DWORD GetFileVersionInfoSize(const char* path, DWORD* handle);
BOOL GetFileVersionInfo(const char* path, DWORD handle, DWORD size, void* data);
// Looks up a value in a block read by GetFileVersionInfo; value points into data.
// Keys compare without regard to letter case; length counts the value's characters and
// its terminating zero.
BOOL VerQueryValue(const void* data, const char* subBlock, void** value, UINT* length);

}  // namespace platform
