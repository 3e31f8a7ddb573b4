#include "status_mapping.hpp"

#include <vuno.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <iostream>
#include <span>
#include <string_view>

namespace vuno::dbus {

namespace {

struct StatusEntry {
    uint32_t value;
    std::string_view name;
    std::string_view message;
};

constexpr std::array<StatusEntry, 13> kLibraryStatuses{{
    {VUNO_STATUS_COMMAND_PENDING, "InternalStatusCommandPending",
     "Internal status - the command has been successfully sent to ME - waiting for response from "
     "host."},
    {VUNO_STATUS_BUSY, "Busy", "The VUNO is busy. Wait until the last command has executed."},
    {VUNO_STATUS_INVALID_PARAMETER, "InternalErrorInvalidParameter",
     "Internal error - the function has been executed with invalid parameter. The command will "
     "not be sent to ME."},
    {VUNO_STATUS_NOT_ENOUGH_MEMORY, "NotEnoughMemory", "VUNO cannot allocate memory."},
    {VUNO_STATUS_INTERNAL_ERROR, "VunoInternalError", "Indicates internal VUNO error."},
    {VUNO_STATUS_HOST_ALREADY_CONNECTED, "InternalStatusHostAlreadyConnected",
     "Internal status - the command has been successfully sent to ME. ME is already connected to "
     "the Host."},
    {VUNO_STATUS_HOST_CONNECTION_FAILED, "InternalErrorHostConnectionFailed",
     "Internal Error - the command has been successfully sent to ME. ME cannot connect to the Host "
     "using VMD Mailbox Register with provided bus/device/function or BMC didn't get heartbeat "
     "from the host in specified time."},
    {VUNO_STATUS_HOST_NOT_CONNECTED, "HostNotConnected", "The host is not connected."},
    {VUNO_STATUS_HOST_RESET, "HostReset",
     "The Host OOB application has been reset. User should retry the command."},
    {VUNO_STATUS_TRANSFER_TO_HOST_FAILED, "TransferToHostFailed",
     "The command has been successfully sent to ME. ME cannot send it to host by using VMD "
     "Mailbox Register."},
    {VUNO_STATUS_TIMEOUT, "Timeout",
     "Timeout occurred during sending command to Host or waiting for response from Host."},
    {VUNO_STATUS_LOCK_ERROR, "InternalLockError",
     "Internal error - a lock cannot be acquired by library."},
    {VUNO_STATUS_MCTP_ERROR, "MctpError",
     "Error occurred during sending or receiving MCTP message."},
}};

constexpr StatusEntry kUnknownLibraryStatus{0, "UnknownVunoStatus", "Unknown VUNO status."};

constexpr std::array<StatusEntry, 33> kSsiStatuses{{
    {1, "InvalidCommandCode", "The Command Code field is not valid or not supported."},
    {2, "InvalidFieldInCommand",
     "A reserved coded value or an unsupported value in a defined field (other than the opcode "
     "field)."},
    {3, "CommandIdentifierConflict", "The command identifier is already in use."},
    {4, "RequestDataLengthInvalid", "This may occur if the length of a Request Data is too short."},
    {5, "SsiInternalError", "Indicates internal SSI error of executor."},
    {6, "SsiBusy",
     "Cannot execute command, because the executor is already performing other operation."},
    {7, "SsiCommandNotSupported",
     "The executor does not implement the command. It may result from operating system "
     "limitations or RAID software implementation."},
    {256, "InvalidStripSize", "The strip size is not valid for the specified RAID level."},
    {257, "InvalidVolumeName", "Volume name contains one or more invalid characters."},
    {258, "InvalidSize", "Invalid volume size."},
    {259, "InvalidRaidLevel", "Invalid RAID Level."},
    {260, "InvalidScope", "Scope passed is not valid for current command."},
    {261, "UnsupportedRaidLevel", "RAID level passed is not supported for current command."},
    {262, "DriveTooSmall",
     "One of the provided drive's capacity is not enough to complete the operation."},
    {263, "InvalidNumberOfDrives",
     "The number of drives is too small or too large for current command."},
    {264, "InvalidDrive", "The drive selected for command has wrong status or does not exist."},
    {265, "InvalidVolume", "The volume selected for command does not exist."},
    {266, "InvalidArray", "The array selected for command does not exist."},
    {267, "InvalidController", "The controller selected for command does not exist."},
    {268, "InvalidMemberDrive",
     "One of the provided member drive is already in use, has wrong status or does not exist."},
    {269, "InvalidExistingDataDrive",
     "The existing data drive is already in use, has wrong status or does not exist."},
    {270, "InvalidJournalingDrive",
     "The Journaling Drive is already in use, has wrong status or does not exist."},
    {271, "LogicalBlockSizeMismatch",
     "At least one of the provided drives has different logical block size than the other "
     "drives."},
    {272, "InvalidFirmwareImage",
     "The firmware image specified for update is invalid and not loaded by the drive."},
    {273, "FirmwareUpdateRequiresReset",
     "The firmware update was successful, but the specified image does not support being "
     "activated without a drive\u2019s reset. The image will be activated at the next drive\u2019s "
     "reset."},
    {274, "FirmwareUpdateProhibited",
     "The image specified for update is being prohibited from activation by the drive for vendor "
     "specific reasons (e.g. drive does not support firmware downgrading)."},
    {275, "InvalidFirmwareSlot",
     "The firmware slot specified exceeds the total number of firmware slots."},
    {276, "InvalidVolumeState", "The command cannot be performed for volume in current state."},
    {277, "InvalidEventType", "The value of Expected Event Type is invalid."},
    {278, "InvalidRAIDWriteHolePolicy",
     "The value of RAID Write Hole Policy field is undefined or is not supported for this "
     "volume."},
    {279, "InvalidVolumeCachePolicy",
     "The value of Volume Cache Policy field is undefined or is not supported for this volume."},
    {281, "InvalidSubscription", "The selected subscription does not exist."},
    {282, "InconsistentRAIDWriteHolePolicy",
     "The value of Journaling Drive Identifier is not filled with zeros, while the RAID Write "
     "Hole Policy is different than Journaling Drive."},
}};

constexpr StatusEntry kUnknownSsiStatus{0, "UnknownSsiStatus", "Unknown SSI status."};

std::string ToHex(uint32_t value) {
    std::array<char, 8> digits{};
    auto written = std::to_chars(digits.begin(), digits.end(), value, 16);
    return std::string(digits.begin(), written.ptr);
}

// Unlisted values are reported with their number so that a new status of a
// newer peer can be told apart from a corrupted one.
ResultDictionary MapStatus(std::span<const StatusEntry> table, const StatusEntry &fallback,
                           std::string_view unknownPrefix, uint32_t status) {
    auto found = std::find_if(table.begin(), table.end(),
                              [status](const StatusEntry &entry) { return entry.value == status; });
    if (found != table.end()) {
        return MakeErrorDictionary(std::string(found->name), std::string(found->message));
    }
    std::cout << unknownPrefix << ToHex(status) << std::endl;
    return MakeErrorDictionary(std::string(fallback.name), std::string(fallback.message));
}

} // namespace

ResultDictionary MakeErrorDictionary(const std::string &name, const std::string &message) {
    return {{kErrorKey, sdbus::Variant(name)}, {kErrorMessageKey, sdbus::Variant(message)}};
}

ResultDictionary MapLibraryStatus(uint32_t status) {
    return MapStatus(kLibraryStatuses, kUnknownLibraryStatus, "Vuno status: 0x", status);
}

ResultDictionary MapSsiStatus(uint32_t status) {
    return MapStatus(kSsiStatuses, kUnknownSsiStatus, "SSI status: 0x", status);
}

ResultDictionary InvalidArgumentError(const std::string &text) {
    return MakeErrorDictionary("InvalidArgument", text);
}

ResultDictionary NotEnoughMemoryError() {
    return MapLibraryStatus(VUNO_STATUS_NOT_ENOUGH_MEMORY);
}

ResultDictionary UnknownError() {
    return MakeErrorDictionary("UnknownError",
                               "Unknown error has occurred during parsing arguments.");
}

ResultDictionary VunoInternalError() {
    return MapLibraryStatus(VUNO_STATUS_INTERNAL_ERROR);
}

} // namespace vuno::dbus
