// vunod as an integrator deploys it: installed by meson, on a bus with a
// stock system bus's default policy plus the installed policy files, called
// by root, by an unprivileged user and by a member of the allowed group.
#include "platform_fixture.hpp"
#include "processes.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

namespace vuno::testing {
namespace {

namespace fs = std::filesystem;

const std::string kService = "xyz.openbmc_project.Vuno";
const std::string kObject = "/xyz/openbmc_project/Vuno";
const std::string kAccessDenied = "org.freedesktop.DBus.Error.AccessDenied";
const std::string kInvalidImage = "Invalid Firmware image file.";

std::string Environment(const char *name) {
    const char *value = std::getenv(name);
    return value == nullptr ? std::string() : value;
}

// The tree of `meson install --destdir`, made once per run.
const fs::path &InstalledTree() {
    static const TemporaryFolder tree("vuno-install");
    static const bool installed = [] {
        const auto result = RunCommand({"meson", "install", "-C", Environment("MESON_BUILD_ROOT"),
                                        "--no-rebuild", "--quiet", "--destdir", tree.path.string()},
                                       120s);
        EXPECT_EQ(result.exitStatus, 0) << result.output;
        return result.exitStatus == 0;
    }();
    EXPECT_TRUE(installed);
    return tree.path;
}

fs::path Installed(const char *directoryVariable, const std::string &file) {
    return InstalledTree() / fs::path(Environment(directoryVariable)).relative_path() / file;
}

// Runs `command` as nobody, with `group` as supplementary group if given.
CommandResult AsNobody(std::vector<std::string> command, const std::string &group = "") {
    std::vector<std::string> argv{"setpriv", "--reuid=nobody", "--regid=nogroup"};
    argv.push_back(group.empty() ? "--clear-groups" : "--groups=" + group);
    argv.insert(argv.end(), command.begin(), command.end());
    return RunCommand(argv);
}

// dbus-send rather than busctl: it prints the name of a bus error.
std::vector<std::string> StorageCall(const std::string &method) {
    return {"dbus-send",          "--system", "--print-reply",
            "--dest=" + kService, kObject,    "xyz.openbmc_project.vuno.pelk." + method};
}

std::vector<std::string> ReadVersion() {
    return {"busctl", "--system", "get-property", kService, kObject, "xyz.openbmc_project.vuno",
            "Version"};
}

std::string Attribute(const std::string &tag, const std::string &name) {
    const std::string key = " " + name + "=\"";
    const auto start = tag.find(key);
    if (start == std::string::npos) {
        return {};
    }
    const auto from = start + key.size();
    return tag.substr(from, tag.find('"', from) - from);
}

// The members of one interface of an introspection text: each method or
// property with its type, access and arguments; documentation is left out.
std::map<std::string, std::string> Members(const std::string &xml, const std::string &interface) {
    std::map<std::string, std::string> members;
    const auto begin = xml.find("<interface name=\"" + interface + "\"");
    const auto end = xml.find("</interface>", begin);
    std::string *current = nullptr;
    for (auto at = xml.find('<', begin); at < end; at = xml.find('<', at + 1)) {
        const std::string tag = xml.substr(at, xml.find('>', at) - at);
        const std::string description = Attribute(tag, "type") + " " + Attribute(tag, "access") +
                                        " " + Attribute(tag, "direction") + ";";
        if (tag.starts_with("<method ") || tag.starts_with("<property ")) {
            current = &members[Attribute(tag, "name")];
            *current = description;
        } else if (tag.starts_with("<arg ") && current != nullptr) {
            *current += Attribute(tag, "name") + " " + description;
        }
    }
    return members;
}

std::string ReadFile(const fs::path &path) {
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

class Deployment : public ::testing::Test {
  protected:
    void TearDown() override {
        if (HasFailure() && daemon) {
            std::cout << "---- vunod output ----\n" << daemon->Output() << std::endl;
        }
        daemon.reset();
        hostsim.reset();
        bus.reset();
    }

    void StartDaemon(VunoPolicy policy, std::vector<std::string> options = {}) {
        bus.emplace(policy);
        options.insert(options.begin(), BuiltProgram("VUNOD_PATH"));
        daemon.emplace(options);
        ASSERT_TRUE(WaitForBusName(kService, 10s)) << daemon->Output();
    }

    std::optional<PrivateBus> bus;
    std::optional<ChildProcess> hostsim;
    std::optional<ChildProcess> daemon;
};

TEST_F(Deployment, InstallGivesTheDaemonItsUnitPolicyAndInterfacesAndTheSimulatorIfAsked) {
    EXPECT_TRUE(fs::exists(Installed("INSTALLED_BINDIR", "vunod")));
    EXPECT_TRUE(fs::exists(Installed("INSTALLED_POLICYDIR", "xyz.openbmc_project.Vuno.conf")));
    const bool hostsimAsked = Environment("INSTALLS_HOSTSIM") == "true";
    EXPECT_EQ(fs::exists(Installed("INSTALLED_BINDIR", "vuno-hostsim")), hostsimAsked);
    EXPECT_EQ(fs::exists(Installed("INSTALLED_POLICYDIR", "xyz.openbmc_project.VunoHostSim.conf")),
              hostsimAsked);

    // Checked inside the installed tree: the unit's ExecStart must be there.
    const fs::path unit =
        fs::path(Environment("INSTALLED_UNITDIR")) / "xyz.openbmc_project.Vuno.service";
    const auto verify = RunCommand({"systemd-analyze", "verify", "--recursive-errors=no",
                                    "--root=" + InstalledTree().string(), unit.string()});
    EXPECT_EQ(verify.exitStatus, 0) << verify.output;
}

TEST_F(Deployment, RootIsServedAndOthersMayOnlyLookAndReadTheVersion) {
    StartDaemon(VunoPolicy::Shipped);

    const auto byRoot = RunCommand(StorageCall("GetExecutorInformation"));
    EXPECT_NE(byRoot.output.find("HostNotConnected"), std::string::npos) << byRoot.output;

    const auto refused = AsNobody(StorageCall("GetExecutorInformation"));
    EXPECT_NE(refused.exitStatus, 0);
    EXPECT_NE(refused.output.find(kAccessDenied), std::string::npos) << refused.output;

    const auto version = AsNobody(ReadVersion());
    EXPECT_EQ(version.exitStatus, 0) << version.output;
    EXPECT_NE(version.output.find("VUNO version"), std::string::npos) << version.output;

    const auto introspection = AsNobody({"busctl", "--system", "introspect", kService, kObject});
    EXPECT_EQ(introspection.exitStatus, 0) << introspection.output;
}

TEST_F(Deployment, MembersOfTheNamedGroupMayCallTheStorageMethods) {
    StartDaemon(VunoPolicy::WithTestGroup);

    const auto member = AsNobody(StorageCall("GetExecutorInformation"), TestGroup());
    EXPECT_NE(member.output.find("HostNotConnected"), std::string::npos) << member.output;

    const auto outsider = AsNobody(StorageCall("GetExecutorInformation"));
    EXPECT_NE(outsider.output.find(kAccessDenied), std::string::npos) << outsider.output;
}

TEST_F(Deployment, InstalledInterfaceFilesMatchTheLiveIntrospection) {
    StartDaemon(VunoPolicy::Shipped);
    const auto live =
        RunCommand({"busctl", "--system", "introspect", "--xml-interface", kService, kObject});
    ASSERT_EQ(live.exitStatus, 0) << live.output;

    for (const std::string interface :
         {"xyz.openbmc_project.vuno.pelk", "xyz.openbmc_project.vuno"}) {
        const auto installed = ReadFile(Installed("INSTALLED_INTERFACEDIR", interface + ".xml"));
        const auto described = Members(installed, interface);
        EXPECT_FALSE(described.empty()) << interface;
        EXPECT_EQ(described, Members(live.output, interface)) << interface;
    }
}

TEST_F(Deployment, FirmwareFolderAdmitsOnlyRegularFilesInsideIt) {
    const TemporaryFolder folder("vuno-firmware");
    const fs::path &root = folder.path;
    const fs::path images = root / "images";
    fs::create_directories(images / "folder");
    std::ofstream(images / "image.bin") << "firmware";
    std::ofstream(root / "outside.bin") << "firmware";
    fs::create_symlink(root / "outside.bin", images / "escape.bin");
    fs::create_symlink(images / "image.bin", images / "alias.bin");
    ASSERT_EQ(::mkfifo((images / "image.fifo").c_str(), 0600), 0);
    StartDaemon(VunoPolicy::Shipped, {"--firmware-dir", images.string()});

    const auto send = [](const fs::path &path) {
        return RunCommand(
                   VunoCallCommand("SendFirmwareToSlot", {"qss", "1", "r1", path.string()}, 30s))
            .output;
    };
    // Past the check, the call fails only for want of a host.
    EXPECT_NE(send(images / "image.bin").find("HostNotConnected"), std::string::npos);
    EXPECT_NE(send(images / "alias.bin").find("HostNotConnected"), std::string::npos);
    EXPECT_NE(send(root / "outside.bin").find(kInvalidImage), std::string::npos);
    EXPECT_NE(send(images / "escape.bin").find(kInvalidImage), std::string::npos);
    EXPECT_NE(send(images / "folder").find(kInvalidImage), std::string::npos);
    EXPECT_NE(send(images / ".." / "outside.bin").find(kInvalidImage), std::string::npos);
    EXPECT_NE(send(images / "missing.bin").find(kInvalidImage), std::string::npos);
    // Refused without opening it: a reader would block the loop for good.
    EXPECT_NE(send(images / "image.fifo").find(kInvalidImage), std::string::npos);
    EXPECT_NE(send(images / "image.bin").find("HostNotConnected"), std::string::npos);
}

TEST_F(Deployment, CommandLineSetsTheVendorIdAndRefusesBadValues) {
    for (const std::string bad : {"0x10000", "12ab", "", "-1"}) {
        const auto refused = RunCommand({BuiltProgram("VUNOD_PATH"), "--me-vendor-id", bad});
        EXPECT_EQ(refused.exitStatus, 2) << bad;
        EXPECT_NE(refused.output.find("--me-vendor-id"), std::string::npos) << refused.output;
    }
    EXPECT_EQ(RunCommand({BuiltProgram("VUNOD_PATH"), "--firmware-dir", "relative"}).exitStatus, 2);

    // The simulated ME expects the build's vendor ID and refuses another.
    bus.emplace();
    hostsim.emplace(std::vector<std::string>{BuiltProgram("HOSTSIM_PATH")});
    ASSERT_TRUE(WaitForBusName("xyz.openbmc_project.MCTP", 10s)) << hostsim->Output();
    char other[8];
    std::snprintf(other, sizeof other, "0x%04X", (ME_VENDOR_ID + 1) & 0xFFFF);
    daemon.emplace(std::vector<std::string>{BuiltProgram("VUNOD_PATH"), "--me-vendor-id", other});
    EXPECT_TRUE(hostsim->WaitForOutput("wrong vendor ID", 20s)) << hostsim->Output();
}

} // namespace
} // namespace vuno::testing
