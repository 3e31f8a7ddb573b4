// The command line's words turned into method arguments, without a bus.
#include "commands.hpp"
#include "output.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

namespace vunoctl {
namespace {

using ::testing::ElementsAre;

Invocation Parse(std::vector<const char *> words) {
    words.insert(words.begin(), "vunoctl");
    CommandLine commandLine;
    return commandLine.Parse(static_cast<int>(words.size()), words.data());
}

TEST(CommandLine, EveryStorageMethodHasANamedCommand) {
    for (const Method &method : StorageMethods()) {
        EXPECT_TRUE(std::any_of(Verbs().begin(), Verbs().end(), [&method](const Verb &verb) {
            return verb.method == method.name;
        })) << method.name;
    }
}

TEST(CommandLine, VolumeCreateFillsTheSignatureInOrderWithDefaultsForWhatIsLeftOut) {
    const Invocation full = Parse({"volume", "create", "Data", "--level", "5", "--size", "1.5T",
                                   "--write-hole", "journaling-drive", "--journal-drive", "J",
                                   "--existing-data-drive", "E", "D1", "D2"});
    EXPECT_EQ(full.method, "CreateVolume");
    EXPECT_THAT(full.arguments, ElementsAre(ElementsAre("Data"), ElementsAre("64"),
                                            ElementsAre("5"), ElementsAre("1.5T"), ElementsAre("E"),
                                            ElementsAre("true"), ElementsAre("Journaling Drive"),
                                            ElementsAre("J"), ElementsAre("D1", "D2")));
    const Invocation plain = Parse({"--json", "volume", "create", "Data", "--level", "1", "D1"});
    EXPECT_TRUE(plain.json);
    EXPECT_THAT(plain.arguments[4], ElementsAre(""));
    EXPECT_THAT(plain.arguments[5], ElementsAre("false"));
    EXPECT_THAT(plain.arguments[6], ElementsAre("Off"));
    EXPECT_THAT(plain.arguments[7], ElementsAre(""));
}

TEST(CommandLine, ScopeIsTheWholeHostUnlessAnItemOrAnOwnerIsNamed) {
    const Invocation all = Parse({"drive", "list"});
    EXPECT_THAT(all.arguments, ElementsAre(ElementsAre("Global"), ElementsAre(kZeroId)));
    EXPECT_FALSE(all.details);
    const Invocation one = Parse({"drive", "list", "--id", "X"});
    EXPECT_THAT(one.arguments, ElementsAre(ElementsAre("Drive"), ElementsAre("X")));
    EXPECT_TRUE(one.details);
    const Invocation owned = Parse({"volume", "ids", "--array", "A", "--timeout", "2.5"});
    EXPECT_THAT(owned.arguments, ElementsAre(ElementsAre("Array"), ElementsAre("A")));
    EXPECT_EQ(owned.timeout, std::chrono::microseconds(2500000));
    EXPECT_THROW(Parse({"volume", "list", "--id", "A", "--drive", "B"}), CLI::ParseError);
}

TEST(CommandLine, EventTypesAreMatchedLooselyAndNoneMeansAll) {
    const Invocation some = Parse({"event", "watch", "drive-FAILED", "Volume added"});
    EXPECT_TRUE(some.watch);
    EXPECT_THAT(some.arguments.back(), ElementsAre("Drive failed", "Volume added"));
    EXPECT_EQ(Parse({"event", "subscribe"}).arguments.back().size(), 17u);
    EXPECT_THROW(Parse({"event", "watch", "Drive exploded"}), CLI::ParseError);
}

TEST(CommandLine, CallReadsItsWordsByTheMethodsSignature) {
    const Invocation call = Parse({"call", "ChangeRaidLevel", "V", "64", "5", "D1", "D2"});
    EXPECT_THAT(call.arguments, ElementsAre(ElementsAre("V"), ElementsAre("64"), ElementsAre("5"),
                                            ElementsAre("D1", "D2")));
    EXPECT_THAT(Parse({"call", "AddDrivesToArray", "A"}).arguments,
                ElementsAre(ElementsAre("A"), ElementsAre()));
    EXPECT_THROW(Parse({"call", "RenameVolume", "V"}), UsageError);
    EXPECT_THROW(Parse({"call", "GetExecutorInformation", "extra"}), UsageError);
    EXPECT_THROW(Parse({"call", "NoSuchMethod"}), CLI::ParseError);
}

TEST(Sizes, AreReadWithUnitsAndRefusedOutOfRange) {
    EXPECT_EQ(ParseSize("4096"), 4096u);
    EXPECT_EQ(ParseSize("10G"), 10000000000u);
    EXPECT_EQ(ParseSize("1.5TB"), 1500000000000u);
    EXPECT_EQ(ParseSize("512MiB"), 536870912u);
    EXPECT_EQ(ParseSize("18446744073709551615"), UINT64_MAX);
    for (const char *wrong : {"", "G", "1.5", "10 G", "12 parsecs", "-1", "18446744073709551616",
                              "20000000T", "1..5G"}) {
        EXPECT_THROW(ParseSize(wrong), UsageError) << wrong;
    }
    EXPECT_EQ(HumanBytes(0), "0 B");
    EXPECT_EQ(HumanBytes(960197124096), "960.2 GB");
    EXPECT_EQ(HumanBytes(1600321314816), "1.60 TB");
}

} // namespace
} // namespace vunoctl
