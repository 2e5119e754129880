// Resource ids of the plug-in: strings, dialog templates, controls, the side-panel
// bitmap and the flash monitor image. The texts themselves are in strings.cpp.
#pragma once
#include "platform/winbase.h"

// ---------------------------------------------------------------------------------------
// Strings

// Operations: names, descriptions, summaries, captions, completion texts.
constexpr UINT IDS_UPGRADE_NAME = 1;
constexpr UINT IDS_CONFIG_NAME = 3;
constexpr UINT IDS_DUMP_NAME = 4;
constexpr UINT IDS_UPGRADE_DESCRIPTION = 10;
constexpr UINT IDS_CONFIG_DESCRIPTION = 12;
constexpr UINT IDS_DUMP_DESCRIPTION = 13;
constexpr UINT IDS_UPGRADE_SUMMARY = 20;
constexpr UINT IDS_CONFIG_SUMMARY = 22;
constexpr UINT IDS_DUMP_SUMMARY = 23;
constexpr UINT IDS_UPGRADE_LOWER = 24;
constexpr UINT IDS_CONFIG_LOWER = 26;
constexpr UINT IDS_DUMP_LOWER = 27;
constexpr UINT IDS_CONNECT_INSTRUCTION = 28;
constexpr UINT IDS_UPGRADE_CAPTION = 33;
constexpr UINT IDS_CONFIG_CAPTION = 35;
constexpr UINT IDS_DUMP_CAPTION = 36;
constexpr UINT IDS_UPGRADE_DONE = 40;
constexpr UINT IDS_CONFIG_DONE = 42;
constexpr UINT IDS_DUMP_DONE = 43;
constexpr UINT IDS_OPERATION_DONE = 45;

// Outcome of a run.
constexpr UINT IDS_OPERATION_CANCELED = 60;
constexpr UINT IDS_OPERATION_FAILED = 61;

// Log file page.
constexpr UINT IDS_LOG_DEFAULT_EXT = 70;
constexpr UINT IDS_LOG_FILE_FILTER = 71;
constexpr UINT IDS_LOG_NO_FILE = 72;

// Software selection page.
constexpr UINT IDS_DELETE_QUESTION = 82;
constexpr UINT IDS_NO_SELECTION = 83;
constexpr UINT IDS_REMOVE_FAILED = 84;
constexpr UINT IDS_INVALID_LOCATION = 85;
constexpr UINT IDS_ADD_FAILED = 86;
constexpr UINT IDS_SRECORD_FILE_FILTER = 87;
constexpr UINT IDS_DEVICE_TYPE = 88;
constexpr UINT IDS_DEVICE_NAME = 89;
constexpr UINT IDS_COPY_FAILED = 96;

// Questions and messages of the software upgrade, the register dialog, the failure box.
constexpr UINT IDS_ALREADY_INSTALLED = 151;
constexpr UINT IDS_SOFTWARE_FILE_INVALID = 152;
constexpr UINT IDS_CHECK_DISPLAY = 153;
constexpr UINT IDS_FIELDS_EMPTY = 154;
constexpr UINT IDS_FIRMWARE_FILE_INVALID = 155;
constexpr UINT IDS_NONE = 156;
constexpr UINT IDS_FAILURE_BOX = 157;

// Status texts of a run.
constexpr UINT IDS_ESTABLISHING = 200;
constexpr UINT IDS_REBOOTING = 201;
constexpr UINT IDS_READING_FILE_SYSTEM = 213;
constexpr UINT IDS_ERASING_PROGRAM_FLASH = 214;
constexpr UINT IDS_UPDATING_SOFTWARE = 215;
constexpr UINT IDS_WAITING_FOR_RECONNECT = 216;
constexpr UINT IDS_CONFIGURING_UPDATE = 217;
constexpr UINT IDS_COLLECTING_GARBAGE = 801;
constexpr UINT IDS_ERASING_FILE_SYSTEM = 2408;

// Failure texts. Each failure class picks its text by code: the serial port code c uses
// string c + 1, the flash monitor c + 100, the ROM monitor and device c - 100, the
// monitor upload and garbage collection c + 300. The fixed texts of the "operation"
// codes 300, 400, 500 and 800 sit at the bases below.
constexpr UINT IDS_SERIAL_FAILURE_BASE = 301;    // code 300 -> "COM Port Failure!"
constexpr UINT IDS_DEVICE_FAILURE_BASE = 400;    // code 500 -> "Operation failure!"
constexpr UINT IDS_FLASHMON_FAILURE_BASE = 500;  // code 400 -> "Operation failure!"
constexpr UINT IDS_BD_FAILURE_BASE = 1100;       // code 800 -> "Operation Failure!"

// Configuration dialog.
constexpr UINT IDS_SERIAL_LABEL = 2300;
constexpr UINT IDS_COLUMN_OPTION = 2301;
constexpr UINT IDS_COLUMN_VALUE = 2302;
constexpr UINT IDS_OPTION_ENABLED = 2306;

// Strings added by this project take ids from 3000 up.
constexpr UINT IDS_PROJECT_FIRST = 3000;
constexpr UINT IDS_REPLACE_FIRMWARE_FILE = 3001;  // software selection page
constexpr UINT IDS_DESCRIPTION_BACKSLASH = 3002;  // register firmware dialog
constexpr UINT IDS_REPLACE_LOG_FILE = 3003;       // log file page
// A flash monitor program file given at run time that cannot be used: the path, then
// the platform error (unreadable) or the file's size (wrong size).
constexpr UINT IDS_MONITOR_FILE_MISSING = 3004;
constexpr UINT IDS_MONITOR_FILE_DIRECTORY = 3005;
constexpr UINT IDS_MONITOR_FILE_UNREADABLE = 3006;
constexpr UINT IDS_MONITOR_FILE_WRONG_SIZE = 3007;
constexpr UINT IDS_UNREGISTER_QUESTION = 3008;   // software selection page
constexpr UINT IDS_LOG_FILE_IS_REGISTRY = 3009;  // log file page
// What the whole-file check of a firmware file found, after the failure's own text.
constexpr UINT IDS_SREC_NOT_A_RECORD = 3010;
constexpr UINT IDS_SREC_UNKNOWN_TYPE = 3011;
constexpr UINT IDS_SREC_LENGTH = 3012;
constexpr UINT IDS_SREC_NOT_HEX = 3013;
constexpr UINT IDS_SREC_CHECKSUM = 3014;
constexpr UINT IDS_SREC_COUNT = 3015;
constexpr UINT IDS_SREC_OUTSIDE_FLASH = 3016;
constexpr UINT IDS_SREC_AFTER_END = 3017;
constexpr UINT IDS_SREC_RECORD_COUNT = 3018;
constexpr UINT IDS_SREC_CONTRADICTS = 3019;
constexpr UINT IDS_SREC_NO_END = 3020;
constexpr UINT IDS_SREC_AFTER_S6 = 3021;
constexpr UINT IDS_SREC_NO_END_AFTER_COUNT = 3022;
// The run says that a firmware file's completeness could not be checked.
constexpr UINT IDS_SREC_COMPLETENESS_UNKNOWN = 3023;
// The kept firmware file differs from what is on disk now.
constexpr UINT IDS_SREC_FILE_CHANGED = 3024;
// Software selection page: an entry a running upgrade is loading.
constexpr UINT IDS_FIRMWARE_IN_USE = 3025;
// More of the flash monitor program file: a FIFO, device or socket; symbolic links that
// lead round in a loop.
constexpr UINT IDS_MONITOR_FILE_NOT_REGULAR = 3070;
constexpr UINT IDS_MONITOR_FILE_LINK_LOOP = 3071;

// ---------------------------------------------------------------------------------------
// Dialog templates and their controls

constexpr UINT IDD_SOFTWARE_SELECTION = 111;  // wizard page
constexpr UINT IDD_LOG_FILE = 112;            // wizard page
constexpr UINT IDD_REGISTER_FIRMWARE = 134;
constexpr UINT IDD_CONFIGURATION = 2013;

// Both wizard pages: the frame that marks the side panel's place.
constexpr int IDC_SIDE_PANEL_FRAME = 1015;

// Software selection page.
constexpr int IDC_SOFTWARE_LIST = 1002;

// Log file page.
constexpr int IDC_LOG_FILE_NAME = 1004;
constexpr int IDC_LOG_BROWSE = 1003;

// Register firmware dialog.
constexpr int IDC_FIRMWARE_DESCRIPTION = 1011;
constexpr int IDC_FIRMWARE_PATH = 1008;
constexpr int IDC_FIRMWARE_BROWSE = 1003;
constexpr int IDC_ADD_ENTRY = 1;  // the dialog's OK
constexpr int IDC_CANCEL = 2;

// Configuration dialog.
constexpr int IDC_CONFIG_OK = 1;
constexpr int IDC_CONFIG_SAVE = 5049;
constexpr int IDC_CONFIG_PRINT = 5050;
constexpr int IDC_INSTALLED_LIST = 5051;
constexpr int IDC_SERIAL_NUMBER = 5052;
constexpr int IDC_SERIAL_LABEL = 5053;
constexpr int IDC_TEMPORARY_LIST = 5054;
constexpr int IDC_TEMPORARY_GROUP = 5055;
constexpr int IDC_INSTALLED_GROUP = 65535;

// ---------------------------------------------------------------------------------------
// Bitmaps and data

constexpr UINT IDB_SIDE_PANEL = 131;  // 150 x 250, 16 colours

constexpr UINT IDR_FLASH_MONITOR = 1;  // RT_RCDATA: the flash monitor image
