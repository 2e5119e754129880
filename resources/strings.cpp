// The string table. One row per text; a new text is one new row (ids from
// IDS_PROJECT_FIRST up for texts of our own). Rows stay in ascending id order, which the
// resource tests check.
#include "resources/strings.h"

#include "resources/resource.h"

namespace kv70::resources {

namespace {

// Shared by several failure codes that describe the same situation.
constexpr const char kDeviceInitFailure[] =
    "Device failure! [%d]  - There was an error initializing communications with the KV70 on "
    "COM%d.\n\nMake sure the cables are connected correctly, restart the KV70, and try again.";
constexpr const char kUploadInitFailure[] =
    "Device failure! [%d]  - There was an error initializing communications with the %s on "
    "COM%d.\n\nMake sure the cables are connected correctly, restart the %s, and try again.";
constexpr const char kComFatalError[] =
    "COM Failure! [%d] There was a fatal error [%ld] with COM%d.\n\nRestart your computer and "
    "try again.";

constexpr StringEntry kStrings[] = {
    {IDS_UPGRADE_NAME, "Software upgrade"},
    {IDS_CONFIG_NAME, "Configuration retrieval"},
    {IDS_DUMP_NAME, "File system dump"},
    {IDS_UPGRADE_DESCRIPTION, "Loads new application software into the KV70."},
    {IDS_CONFIG_DESCRIPTION, "Reads the configuration information from the KV70."},
    {IDS_DUMP_DESCRIPTION,
     "Takes a copy of the KV70's data file system and stores it to a file on your PC."},
    {IDS_UPGRADE_SUMMARY, "Operation to perform:\r\n\t%s\r\n\r\nUpgrade software to:\r\n\t%s"},
    {IDS_CONFIG_SUMMARY, "Operation to perform:\r\n\t%s"},
    {IDS_DUMP_SUMMARY, "Operation to perform:\r\n\t%s\r\n\r\nFile system log file:\r\n\t%s"},
    {IDS_UPGRADE_LOWER, "software upgrade"},
    {IDS_CONFIG_LOWER, "configuration retrieval"},
    {IDS_DUMP_LOWER, "file system dump"},
    {IDS_CONNECT_INSTRUCTION,
     "Connect the KV70 (top or bottom port) to COM%d of the PC using the DB9 cable."},
    {IDS_UPGRADE_CAPTION, "Software Upgrade"},
    {IDS_CONFIG_CAPTION, "Read Configuration"},
    {IDS_DUMP_CAPTION, "KV70 File System Dump"},
    {IDS_UPGRADE_DONE, "The software upgrade was completed successfully."},
    {IDS_CONFIG_DONE, "The configuration information was retrieved successfully."},
    {IDS_DUMP_DONE, "The file system dump completed successfully."},
    {IDS_OPERATION_DONE, "The operation was completed successfully."},
    {IDS_OPERATION_CANCELED, "The operation was canceled."},
    {IDS_OPERATION_FAILED, "There was a failure with the operation!"},
    {IDS_LOG_DEFAULT_EXT, "log"},
    {IDS_LOG_FILE_FILTER, "File Dump Files (*.log)|*.log|All files (*.*)|*.*||"},
    {IDS_LOG_NO_FILE,
     "No file was selected.\n\nPlease select a valid log file for the KV70 file system."},
    {IDS_DELETE_QUESTION,
     "This operation will unregister %s with Velmora and delete the file %s.\n\nPress yes to "
     "continue the operation."},
    {IDS_NO_SELECTION,
     "No software version was selected.\n\nSelect a software version file from the list or add "
     "a firmware entry and try again."},
    {IDS_REMOVE_FAILED, "There was a error removing the entry from the registry."},
    {IDS_INVALID_LOCATION,
     "The location (%s) of %s points to an invalid software file.\n\nEither select another "
     "software version, or check the location and try again."},
    {IDS_ADD_FAILED, "There was a failure adding the entry to the registry."},
    {IDS_SRECORD_FILE_FILTER, "SRecord Files (*.x)|*.x|All files (*.*)|*.*||"},
    {IDS_DEVICE_TYPE, "KV70"},
    {IDS_DEVICE_NAME, "KV70"},
    {IDS_COPY_FAILED,
     "There was a fatal error (%ld) while copying %s to %s.\n\nMake sure the drive is not full "
     "or write protected, and try again."},
    {IDS_ALREADY_INSTALLED, "Software version already installed!\n\nProceed?"},
    {IDS_SOFTWARE_FILE_INVALID,
     "The software file %s is invalid.\n\nPlease re-install the selected software version file "
     "or select another software version and try again."},
    {IDS_CHECK_DISPLAY, "Check KV70 display."},
    {IDS_FIELDS_EMPTY,
     "One or more required fields has been left empty.  In order to add a firmware entry, all "
     "fields must be completed.\n\nPlease review the settings and try again."},
    {IDS_FIRMWARE_FILE_INVALID,
     "The specified firmware file %s is invalid.\n\nSelect another software version and try "
     "again."},
    {IDS_NONE, "None"},
    {IDS_FAILURE_BOX, "DevKV70 Version: %s\n\n%s"},
    {IDS_ESTABLISHING, "Establishing communication with the KV70. Please wait..."},
    {IDS_REBOOTING, "Rebooting the KV70 data collector..."},
    {IDS_READING_FILE_SYSTEM, "Reading file system..."},
    {IDS_ERASING_PROGRAM_FLASH, "Erasing program flash..."},
    {IDS_UPDATING_SOFTWARE, "Updating the software of the KV70..."},
    {IDS_WAITING_FOR_RECONNECT,
     "Timeout getting response from KV!  Check the cables!  Waiting for reconnect..."},
    {IDS_CONFIGURING_UPDATE, "Configuring software update..."},

    // CSerialComException: code c uses string c + 1.
    {301, "COM Port Failure!"},
    {302,
     "COM Failure! [%d] There was a failure [%ld] attempting to open COM%d.\n\nRestart your "
     "computer and try again."},
    {303, kComFatalError},
    {304, kComFatalError},
    {305, kComFatalError},

    // DeviceException: code c uses string c - 100.
    {400, "Operation failure!"},
    {401, kDeviceInitFailure},
    {404, kDeviceInitFailure},
    {405, kDeviceInitFailure},
    {406, kDeviceInitFailure},
    {409, kDeviceInitFailure},
    {416, kDeviceInitFailure},
    {417, kDeviceInitFailure},
    {418, kDeviceInitFailure},
    {419,
     "Device Failure! [%d] - There was an error retrieving the device configuration from the "
     "KV70 on COM%d.\n\nContact technical support."},

    // CFlashMonException: code c uses string c + 100.
    {500, "Operation failure!"},
    {501,
     "Erase failure! [%d] - There was a timeout waiting for a response from the KV70.\n\nRestart "
     "the KV70 and try again."},
    {502,
     "Erase failure! [%d] - There was an error while erasing the program flash on the "
     "KV70.\n\nRestart the KV70 and try again."},
    {503,
     "Erase failure! [%d] - There was a timeout waiting for the erase operation to "
     "complete.\n\nRestart the KV70 and try again."},
    {505,
     "Program failure! [%d] - There was an error while programming the software on the "
     "KV70.\n\nRestart the KV70 and try again."},
    {506, "KV70 reboot failure! [%d] - There was a timeout waiting for a response from the KV70."},
    {507,
     "Report failure! [%d] - There was a timeout waiting for a response from the "
     "KV70.\n\nRestart the KV70 and try again."},
    {508,
     "Report failure! [%d] - There was an error retrieving data from the KV70.\n\nRestart the "
     "KV70 and try again."},
    {511,
     "Read config failure! [%d] - There was a failure reading the product information from the "
     "KV70.\n\nRestart the KV70 and try again."},
    {512,
     "Command failure! [%d] - There was an error processing a command on the KV70.\n\nRestart "
     "the KV70 and try again."},
    {513,
     "Command failure! [%d] - There was a timeout waiting for a response from the "
     "KV70.\n\nRestart the KV70 and try again."},
    {514,
     "Erase FFS failure! [%d] - There was an error while erasing the file system flash on the "
     "KV70.\n\nRestart the KV70 and try again."},
    {515,
     "Program failure! [%d] - There was a checksum failure with the specified software "
     "file.\n\nSelect another file and try again."},
    {516,
     "Program failure! [%d] - There was an error with the specified software file.\n\nSelect "
     "another file and try again."},

    {IDS_COLLECTING_GARBAGE, "Collecting garbage..."},

    // BDException: code c uses string c + 300.
    {1100, "Operation Failure!"},
    {1103,
     "Device failure! [%d]  - There was an error performing garbage collection for the %s on "
     "COM%d.\n\nRestart the %s and try again."},
    {1104, kUploadInitFailure},
    {1105, kUploadInitFailure},
    {1106, kUploadInitFailure},

    {IDS_SERIAL_LABEL, "%s S/N:"},
    {IDS_COLUMN_OPTION, "Option Name"},
    {IDS_COLUMN_VALUE, "Value"},
    {IDS_OPTION_ENABLED, "Enabled"},
    {IDS_ERASING_FILE_SYSTEM, "Erasing file system flash..."},
    {IDS_REPLACE_FIRMWARE_FILE,
     "The file %s already exists in the firmware directory, and no other registered software "
     "version uses it.\n\nPress yes to replace it with %s."},
    {IDS_DESCRIPTION_BACKSLASH,
     "The description may not contain a backslash.\n\nEnter another description and try again."},
    {IDS_REPLACE_LOG_FILE,
     "The file %s already exists.\n\nPress yes to replace it with the KV70 file system."},
    {IDS_MONITOR_FILE_MISSING,
     "Monitor program failure! The flash monitor program file %s does not exist.\n\n"
     "Check VELMORA_KV70_MONITOR (--monitor-image) and try again."},
    {IDS_MONITOR_FILE_DIRECTORY,
     "Monitor program failure! %s is a directory, not the flash monitor program file.\n\n"
     "Check VELMORA_KV70_MONITOR (--monitor-image) and try again."},
    {IDS_MONITOR_FILE_UNREADABLE,
     "Monitor program failure! The flash monitor program file %s cannot be read (error "
     "%llu).\n\nCheck VELMORA_KV70_MONITOR (--monitor-image) and try again."},
    {IDS_MONITOR_FILE_WRONG_SIZE,
     "Monitor program failure! The flash monitor program file %s is %llu bytes; it must be "
     "exactly 8554.\n\nCheck VELMORA_KV70_MONITOR (--monitor-image) and try again."},
    {IDS_UNREGISTER_QUESTION,
     "This operation will unregister %s with Velmora and leave the file %s in place: it is "
     "not this entry's own copy in the firmware directory.\n\nPress yes to continue the "
     "operation."},
    {IDS_LOG_FILE_IS_REGISTRY,
     "The file %s is Velmora's registry database, which holds the list of software versions.\n\n"
     "Select another log file for the KV70 file system."},
    {IDS_SREC_NOT_A_RECORD, "Line %ld of the file is not an S-record."},
    {IDS_SREC_UNKNOWN_TYPE, "Line %ld of the file has the unknown record type %s."},
    {IDS_SREC_LENGTH, "Line %ld of the file is %d characters long; its byte count says %d."},
    {IDS_SREC_NOT_HEX, "Line %ld of the file holds a character that is not a hexadecimal digit."},
    {IDS_SREC_CHECKSUM, "Line %ld of the file has the checksum %02X; its bytes give %02X."},
    {IDS_SREC_COUNT,
     "Line %ld of the file has a byte count (%d) that does not fit its record type."},
    {IDS_SREC_OUTSIDE_FLASH,
     "Line %ld of the file places data at 0x%08lX, outside the program flash (0x%08lX to "
     "0x%08lX)."},
    {IDS_SREC_AFTER_END, "Line %ld of the file holds data after the end record on line %ld."},
    {IDS_SREC_RECORD_COUNT,
     "Line %ld of the file counts %lu data records; the file has %lu before it."},
    {IDS_SREC_CONTRADICTS,
     "Line %ld of the file gives the byte at 0x%08lX another value than an earlier line."},
    {IDS_SREC_NO_END,
     "The file has no end record (S7, S8 or S9) after line %ld: it may have been cut short."},
    {IDS_SREC_AFTER_S6,
     "Line %ld of the file holds data after the count record (S6) on line %ld, which ends "
     "the file."},
    {IDS_SREC_NO_END_AFTER_COUNT,
     "The file has no end record, and no count record after its last data record on line "
     "%ld: it may have been cut short."},
    {IDS_SREC_COMPLETENESS_UNKNOWN,
     "The firmware file %s has neither an end record (S7, S8 or S9) nor a count record (S5 "
     "or S6): its completeness could not be checked."},
    {IDS_SREC_FILE_CHANGED,
     "The file changed after the upgrade checked it (another program wrote, replaced or "
     "removed it); nothing of the change was loaded."},
    {IDS_FIRMWARE_IN_USE,
     "%s is in use: a software upgrade that is running now is loading it, or another "
     "program holds its file %s open. It cannot be deleted or replaced while it is.\n\nTry "
     "again when that upgrade has ended or that program has let go of the file."},
    {IDS_MONITOR_FILE_NOT_REGULAR,
     "Monitor program failure! %s is not a regular file (a FIFO, a device or a socket), not "
     "the flash monitor program file.\n\nCheck VELMORA_KV70_MONITOR (--monitor-image) and try "
     "again."},
    {IDS_MONITOR_FILE_LINK_LOOP,
     "Monitor program failure! The flash monitor program file %s cannot be reached: its "
     "symbolic links lead round in a loop.\n\nCheck VELMORA_KV70_MONITOR (--monitor-image) and "
     "try again."},
};

}  // namespace

std::span<const StringEntry> StringTable() {
  return kStrings;
}

}  // namespace kv70::resources
