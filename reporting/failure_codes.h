// Every failure code the plug-in raises, by failure class. The code picks the failure's
// text in the string table (failures.h gives each class's rule) and is shown to the
// technician in brackets, so a code once given keeps its meaning.
#pragma once

// DeviceException: the ROM monitor and the device connection.
constexpr int DEVICE_OPERATION_FAILURE = 500;
constexpr int DEVICE_NO_PING_ANSWER = 501;             // no flash monitor answers
constexpr int DEVICE_SPEED_ROUTINE_NOT_WRITTEN = 504;  // the 38400 bit/s routine
constexpr int DEVICE_SPEED_ROUTINE_NOT_STARTED = 505;
constexpr int DEVICE_SETUP_FAILED = 506;  // registers and chip selects
constexpr int DEVICE_ROM_READ_FAILED = 509;
constexpr int DEVICE_ROM_WRITE_FAILED = 516;
constexpr int DEVICE_ROM_GO_FAILED = 517;
constexpr int DEVICE_ROM_TYPED_WRITE_FAILED = 518;
constexpr int DEVICE_UNKNOWN_FLASH_TYPE = 519;

// BDException: the flash monitor's upload and garbage collection.
constexpr int BD_OPERATION_FAILURE = 800;
constexpr int BD_GARBAGE_COLLECTION_FAILED = 803;
constexpr int BD_MONITOR_UPLOAD_FAILED = 804;
constexpr int BD_MONITOR_NOT_STARTED = 805;
constexpr int BD_MONITOR_NO_PING_ANSWER = 806;

// CFlashMonException: the flash monitor's commands and the firmware file's records.
constexpr int FLASHMON_OPERATION_FAILURE = 400;
constexpr int FLASHMON_ERASE_NO_ANSWER = 401;
constexpr int FLASHMON_ERASE_FAILED = 402;
constexpr int FLASHMON_ERASE_TIMEOUT = 403;
constexpr int FLASHMON_PROGRAM_REFUSED = 405;
constexpr int FLASHMON_REBOOT_NO_ANSWER = 406;
constexpr int FLASHMON_READ_NO_ANSWER = 407;
constexpr int FLASHMON_READ_WRONG_LENGTH = 408;
constexpr int FLASHMON_READ_CONFIG_FAILED = 411;
constexpr int FLASHMON_COMMAND_FAILED = 412;
constexpr int FLASHMON_COMMAND_NO_ANSWER = 413;
constexpr int FLASHMON_ERASE_FS_NO_ANSWER = 414;
constexpr int FLASHMON_SRECORD_CHECKSUM = 415;
constexpr int FLASHMON_SRECORD_FORMAT = 416;

// CSerialComException: the COM port.
constexpr int SERIAL_PORT_FAILURE = 300;
constexpr int SERIAL_OPEN_FAILED = 301;
constexpr int SERIAL_SETTINGS_FAILED = 302;
constexpr int SERIAL_READ_FAILED = 303;
constexpr int SERIAL_WRITE_FAILED = 304;
