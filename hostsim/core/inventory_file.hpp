// Describing a simulated host's storage in a text file.
//
// One statement per line: a keyword, usually a label, then key=value
// fields in any order. Blank lines and lines whose first non-blank
// character is '#' are ignored. A value with blanks is written in double
// quotes (no escapes). Numbers are decimal or hexadecimal with 0x;
// booleans are yes or no; sizes are bytes; texts are printable ASCII and
// no longer than their field on the wire. Labels (letters, digits, '-',
// '_') name objects within the file; an object is referred to by its
// label and must be defined on an earlier line. Identifiers are derived
// from the labels (the same file always gives the same identifiers)
// unless given with id= as 32 hexadecimal digits, dashes allowed.
//
//   executor version=TEXT ssi=MAJOR.MINOR
//   firmware capacity=BYTES                  largest image a slot takes
//   slot NUMBER [revision=TEXT] [image=BYTES]    no revision: empty slot
//   controller LABEL type=VMD|AHCI|NVMe [mode=RAID|AHCI] [name=TEXT]
//       [vendor=N] [device=N] [subsystem=N] [revision=N]
//       [driver=A.B.C.D] [preos-driver=A.B.C.D] [max-volumes-per-array=N]
//       [max-volumes=N] [max-drives=N] [rohi=BOOL] [patrol=BOOL] [id=ID]
//   drive LABEL controller=LABEL type=VMD|NVMe|SATA|SATA-optical size=BYTES
//       [serial=TEXT] [model=TEXT] [firmware=TEXT] [block=N]
//       [physical-block=N] [status=normal|failed|offline|smart|locked|
//       missing|incompatible|unsupported|unknown]
//       [usage=pass-through|spare|offline-member|unknown] [led=BOOL] [preboot=BOOL]
//       [write-cache=BOOL] [link=CODE] [id=ID]
//     SATA and SATA-optical: [port=N]; SATA: [ssd=BOOL] [ncq=BOOL]
//     VMD and NVMe: [vendor=N] [pch=BOOL] [dual=none|first|second]
//     VMD: [socket=N] [vmd=N] [root-port=N] [slot=N]
//   array LABEL drives=LABEL,... [name=TEXT] [write-cache=BOOL] [id=ID]
//   volume LABEL array=LABEL level=0|1|10|5 drives=LABEL,... size=BYTES
//       strip=KIB [name=TEXT] [system=BOOL] [initialized=BOOL]
//       [cache=disabled|write-through|write-back]
//       [write-hole=off|distributed|journaling] [journal=LABEL]
//       [verify-errors=N] [bad-blocks=N] [id=ID]
//
// A volume's drives are drives of its array, in member order; the word
// `missing` in their place describes a member that is gone, which makes
// the volume degraded or failed. Every array must hold a volume. The
// checks that the executor makes on a new volume (levels and drive counts
// the controller supports, strip sizes, free space) apply to the file.
// Array membership and journaling are given by the array and volume
// lines, not by a drive's usage.
#pragma once

#include "raid_model.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace vuno::hostsim {

struct InventoryLoad {
    std::optional<Inventory> inventory;
    std::string error; // "line N: ..." when the text is not a valid inventory
};

InventoryLoad ParseInventory(std::string_view text);
InventoryLoad LoadInventoryFile(const std::string &path);

// A VMD controller with six NVMe drives (an array of three holding a
// RAID 1 system volume and a RAID 5 data volume, a spare, a free drive and
// one with stale metadata) and an AHCI controller in RAID mode with two
// free SATA drives; three firmware slots.
Inventory DefaultInventory();

// 32 hexadecimal digits, dashes anywhere allowed (so the usual
// 8-4-4-4-12 form too); byte i is digits 2i and 2i+1.
std::optional<Identifier> ParseIdentifier(std::string_view text);

// The identifier an object defined under `label` gets without id=;
// `keyword` is its statement's keyword ("drive", "volume", ...).
Identifier LabelIdentifier(std::string_view keyword, std::string_view label);

// The model's storage as it is now, in the same format, with explicit
// identifiers; long operations under way and volumes marked failed are
// not part of it.
std::string WriteInventory(const RaidModel &model);
extern const char *const kDefaultInventoryText;

} // namespace vuno::hostsim
