#include "status_mapping.hpp"
#include "test_helpers.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vuno::dbus {
namespace {

using testing::ExpectErrorDictionary;
using testing::StdoutCapture;

struct Row {
    uint32_t status;
    std::string name;
    std::string message;
};

const std::vector<Row> kLibraryRows = {
    {1, "InternalStatusCommandPending",
     "Internal status - the command has been successfully sent to ME - waiting for response "
     "from host."},
    {2, "Busy", "The VUNO is busy. Wait until the last command has executed."},
    {3, "InternalErrorInvalidParameter",
     "Internal error - the function has been executed with invalid parameter. The command "
     "will not be sent to ME."},
    {4, "NotEnoughMemory", "VUNO cannot allocate memory."},
    {5, "VunoInternalError", "Indicates internal VUNO error."},
    {6, "InternalStatusHostAlreadyConnected",
     "Internal status - the command has been successfully sent to ME. ME is already "
     "connected to the Host."},
    {7, "InternalErrorHostConnectionFailed",
     "Internal Error - the command has been successfully sent to ME. ME cannot connect to "
     "the Host using VMD Mailbox Register with provided bus/device/function or BMC didn't get "
     "heartbeat from the host in specified time."},
    {8, "HostNotConnected", "The host is not connected."},
    {9, "HostReset", "The Host OOB application has been reset. User should retry the command."},
    {10, "TransferToHostFailed",
     "The command has been successfully sent to ME. ME cannot send it to host by using VMD "
     "Mailbox Register."},
    {11, "Timeout",
     "Timeout occurred during sending command to Host or waiting for response from Host."},
    {12, "InternalLockError", "Internal error - a lock cannot be acquired by library."},
    {13, "MctpError", "Error occurred during sending or receiving MCTP message."},
};

const std::vector<Row> kSsiRows = {
    {1, "InvalidCommandCode", "The Command Code field is not valid or not supported."},
    {2, "InvalidFieldInCommand",
     "A reserved coded value or an unsupported value in a defined field (other than the "
     "opcode field)."},
    {3, "CommandIdentifierConflict", "The command identifier is already in use."},
    {4, "RequestDataLengthInvalid", "This may occur if the length of a Request Data is too short."},
    {5, "SsiInternalError", "Indicates internal SSI error of executor."},
    {6, "SsiBusy",
     "Cannot execute command, because the executor is already performing other operation."},
    {7, "SsiCommandNotSupported",
     "The executor does not implement the command. It may result from operating system "
     "limitations or RAID software implementation."},
    {0x100, "InvalidStripSize", "The strip size is not valid for the specified RAID level."},
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
     "One of the provided member drive is already in use, has wrong status or does not "
     "exist."},
    {269, "InvalidExistingDataDrive",
     "The existing data drive is already in use, has wrong status or does not exist."},
    {270, "InvalidJournalingDrive",
     "The Journaling Drive is already in use, has wrong status or does not exist."},
    {271, "LogicalBlockSizeMismatch",
     "At least one of the provided drives has different logical block size than the other "
     "drives."},
    {272, "InvalidFirmwareImage",
     "The firmware image specified for update is invalid and not loaded by the drive."},
    // Typographic apostrophes, spelled out as UTF-8 bytes.
    {273, "FirmwareUpdateRequiresReset",
     "The firmware update was successful, but the specified image does not support being "
     "activated without a drive\xE2\x80\x99s reset. The image will be activated at the next "
     "drive\xE2\x80\x99s reset."},
    {274, "FirmwareUpdateProhibited",
     "The image specified for update is being prohibited from activation by the drive for "
     "vendor specific reasons (e.g. drive does not support firmware downgrading)."},
    {275, "InvalidFirmwareSlot",
     "The firmware slot specified exceeds the total number of firmware slots."},
    {276, "InvalidVolumeState", "The command cannot be performed for volume in current state."},
    {277, "InvalidEventType", "The value of Expected Event Type is invalid."},
    {278, "InvalidRAIDWriteHolePolicy",
     "The value of RAID Write Hole Policy field is undefined or is not supported for this "
     "volume."},
    {279, "InvalidVolumeCachePolicy",
     "The value of Volume Cache Policy field is undefined or is not supported for this "
     "volume."},
    {281, "InvalidSubscription", "The selected subscription does not exist."},
    {282, "InconsistentRAIDWriteHolePolicy",
     "The value of Journaling Drive Identifier is not filled with zeros, while the RAID "
     "Write Hole Policy is different than Journaling Drive."},
};

TEST(StatusMapping, EveryLibraryStatusHasItsOwnNameAndMessageSilently) {
    for (const Row &row : kLibraryRows) {
        SCOPED_TRACE(row.status);
        StdoutCapture output;
        ExpectErrorDictionary(MapLibraryStatus(row.status), row.name, row.message);
        EXPECT_EQ(output.Text(), "");
    }
}

TEST(StatusMapping, EverySsiStatusHasItsOwnNameAndMessageSilently) {
    for (const Row &row : kSsiRows) {
        SCOPED_TRACE(row.status);
        StdoutCapture output;
        ExpectErrorDictionary(MapSsiStatus(row.status), row.name, row.message);
        EXPECT_EQ(output.Text(), "");
    }
}

TEST(StatusMapping, ApostrophesDifferBetweenTheTwoMessagesThatHaveThem) {
    std::string resetMessage = MapSsiStatus(273).at(kErrorMessageKey).get<std::string>();
    std::string smallMessage = MapSsiStatus(262).at(kErrorMessageKey).get<std::string>();
    EXPECT_EQ(resetMessage.find('\''), std::string::npos);
    EXPECT_NE(resetMessage.find("drive\u2019s reset"), std::string::npos);
    EXPECT_NE(smallMessage.find("drive's capacity"), std::string::npos);
}

struct FallbackRow {
    uint32_t status;
    std::string line;
};

TEST(StatusMapping, UnlistedLibraryStatusesFallBackAndPrintTheValueInHex) {
    const std::vector<FallbackRow> rows = {
        {0, "Vuno status: 0x0\n"},
        {14, "Vuno status: 0xe\n"},
        {0x100, "Vuno status: 0x100\n"},
        {0xFFFFFFFF, "Vuno status: 0xffffffff\n"},
    };
    for (const FallbackRow &row : rows) {
        SCOPED_TRACE(row.status);
        StdoutCapture output;
        ExpectErrorDictionary(MapLibraryStatus(row.status), "UnknownVunoStatus",
                              "Unknown VUNO status.");
        EXPECT_EQ(output.Text(), row.line);
    }
}

TEST(StatusMapping, UnlistedSsiStatusesFallBackAndPrintTheValueInHex) {
    const std::vector<FallbackRow> rows = {
        {0, "SSI status: 0x0\n"},           {8, "SSI status: 0x8\n"},
        {255, "SSI status: 0xff\n"},        {280, "SSI status: 0x118\n"},
        {283, "SSI status: 0x11b\n"},       {0xFFFF, "SSI status: 0xffff\n"},
        {0x10101, "SSI status: 0x10101\n"},
    };
    for (const FallbackRow &row : rows) {
        SCOPED_TRACE(row.status);
        StdoutCapture output;
        ExpectErrorDictionary(MapSsiStatus(row.status), "UnknownSsiStatus", "Unknown SSI status.");
        EXPECT_EQ(output.Text(), row.line);
    }
}

TEST(StatusMapping, InterfaceErrorsOfItsOwn) {
    StdoutCapture output;
    ExpectErrorDictionary(InvalidArgumentError("Invalid scope type: global"), "InvalidArgument",
                          "Invalid scope type: global");
    ExpectErrorDictionary(NotEnoughMemoryError(), "NotEnoughMemory",
                          "VUNO cannot allocate memory.");
    ExpectErrorDictionary(UnknownError(), "UnknownError",
                          "Unknown error has occurred during parsing arguments.");
    ExpectErrorDictionary(VunoInternalError(), "VunoInternalError",
                          "Indicates internal VUNO error.");
    EXPECT_EQ(output.Text(), "");
}

} // namespace
} // namespace vuno::dbus
