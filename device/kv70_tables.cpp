#include "device/kv70_tables.h"

#include <algorithm>
#include <iterator>

const DWORD KV70_ADDRESSES[3] = {0x00200000, 0x02400420, 0x025FC000};

// index:  0     1     2     3     4     5     6     7     8     9
//         10    11    12    13    14    15    16    17
const DWORD KV70_COMMAND_CODES[18] = {
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, KV70_NO_COMMAND,
    0x0B, 0x0C, 0x0E, 0x0F, 0x10, 0x0D,
};

const WORD KV70_FLASH_TYPES[6] = {215, 91, 8922, 8795, 8900, 8777};

bool IsKnownKV70FlashType(WORD flashType) {
  return std::find(std::begin(KV70_FLASH_TYPES), std::end(KV70_FLASH_TYPES), flashType) !=
         std::end(KV70_FLASH_TYPES);
}
