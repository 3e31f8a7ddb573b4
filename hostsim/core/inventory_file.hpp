// Describing a simulated host's storage in a JSON file.
//
// The top-level object holds, all optional:
//   "executor": {"version": TEXT, "ssi-major": N, "ssi-minor": N}
//   "firmware": {"capacity": BYTES, "slots": [{"number": N, "revision": TEXT,
//       "image": BYTES}, ...]}          a slot without a revision is empty
//   "controllers", "drives", "arrays", "volumes": lists of objects.
// Numbers are whole and not negative, flags are true or false, sizes are
// bytes, texts are printable ASCII no longer than their field on the wire.
// Every controller, drive, array and volume has a "label" (letters,
// digits, '-', '_') by which other objects refer to it. Identifiers are
// derived from the labels (the same file always gives the same ones)
// unless given as "id": 32 hexadecimal digits, dashes allowed. An
// unknown field is an error.
//
//   controller: label, type VMD|AHCI|NVMe, [mode RAID|AHCI], [name],
//       [vendor], [device], [subsystem], [revision], [driver [A,B,C,D]],
//       [preos-driver [A,B,C,D]], [max-volumes-per-array], [max-volumes],
//       [max-drives], [rohi], [patrol], [id]
//   drive: label, controller, type VMD|NVMe|SATA|SATA-optical, size,
//       [serial], [model], [firmware], [block], [physical-block],
//       [status normal|failed|offline|smart|locked|missing|incompatible|
//       unsupported|unknown], [usage pass-through|spare|offline-member|
//       unknown], [led], [preboot], [write-cache], [link], [id];
//     SATA and SATA-optical: [port]; SATA: [ssd], [ncq];
//     VMD and NVMe: [vendor], [pch], [dual none|first|second];
//     VMD: [socket], [vmd], [root-port], [slot]
//   array: label, drives [LABEL, ...], [controller LABEL] (needed when no
//       drive is left), [name], [write-cache], [id]
//   volume: label, array, level "0"|"1"|"10"|"5", drives [LABEL, ...],
//       size, strip (KiB), [name], [system], [initialized],
//       [cache disabled|write-through|write-back],
//       [write-hole off|distributed|journaling], [journal LABEL],
//       [verify-errors], [bad-blocks], [id]
//
// A volume's drives are drives of its array, in member order; "missing"
// in their place describes a member that is gone, which makes the volume
// degraded or failed. Every array must hold a volume. The checks that the
// executor makes on a new volume (levels and drive counts the controller
// supports, strip sizes, free space) apply to the file. Array membership
// and journaling come from the arrays and volumes, not from a drive's
// usage. Errors name the object and the field, or the line and column of
// a syntax error.
#pragma once

#include "raid_model.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace vuno::hostsim {

struct InventoryLoad {
    std::optional<Inventory> inventory;
    std::string error; // when the text is not a valid inventory
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
// identifiers and generated labels; long operations under way and volumes marked failed are
// not part of it.
std::string WriteInventory(const RaidModel &model);
extern const char *const kDefaultInventoryText;

} // namespace vuno::hostsim
