// The place of an IPv4 address in the location database QQWry.dat.
//
// Every lookup stands alone: it opens the file, reads the header, searches the index, reads one
// record, decodes its place fields, closes the file. Nothing is cached; the file is never read whole.
#pragma once

#include "../image/rt.h"

// The place text of a dotted address (GBK, owned by the caller), or the empty text when the address
// is empty, the file cannot be opened ("没找到数据库" is shown), the range found does not hold the
// address, or the record's texts are empty. A null path means ".\QQWry.dat".
Text LookupLocation(TextArg address, TextArg databasePath);

// The number of the index entry whose range may hold address value a, searching entries lo..hi of
// the index that starts at `first`. `depth` counts the levels of the search.
int32_t FindIndexEntry(int32_t file, int64_t first, int64_t lo, int64_t hi, int64_t a, int32_t depth);

// The address value of a dotted text (first part most significant), 0 when it has no four parts.
int64_t AddressToNumber(TextArg address);

// Hexadecimal helpers (texts owned by the caller).
Text PadHex8(TextArg text);
Text SwapHexPairs(TextArg text);
int64_t HexToNumber(TextArg text);

// The place text of the place fields at position p of the open file (GBK, owned by the caller).
Text ReadPlace(int32_t file, int64_t p);
// The country text at q; *occupied receives the bytes the country field takes at q.
Text ReadCountryText(int32_t file, int64_t q, int64_t *occupied);
// The area text at s.
Text ReadAreaText(int32_t file, int64_t s);
