// vunoctl: the host's storage from the BMC's command line, through the Vuno
// daemon on the system bus.
#include "client.hpp"
#include "commands.hpp"
#include "event_watch.hpp"
#include "output.hpp"
#include "transfer_display.hpp"

#include <unistd.h>

#include <iostream>
#include <memory>

namespace {

using namespace vunoctl;

// The image's transfer is shown as it goes, unless a script reads JSON.
std::shared_ptr<TransferDisplay> ShowTransfer(Client &client, const Invocation &invocation) {
    if (invocation.method != "SendFirmwareToSlot" || invocation.json) {
        return nullptr;
    }
    auto display = std::make_shared<TransferDisplay>(std::cout, ::isatty(STDOUT_FILENO) == 1,
                                                     FileSize(invocation.arguments.at(2).at(0)),
                                                     TransferDisplay::Clock::now());
    client.WatchProgress([display](uint32_t sent, uint32_t total) {
        display->Update(sent, total, TransferDisplay::Clock::now());
    });
    return display;
}

void StartCall(Client &client, const Invocation &invocation) {
    const auto display = ShowTransfer(client, invocation);
    const auto timeout =
        invocation.timeout.value_or(DefaultTimeout(invocation.method, invocation.arguments));
    client.Send(invocation.method, invocation.arguments, timeout,
                [&client, invocation, display](const Json &reply) {
                    if (!ErrorName(reply).empty()) {
                        ReportError(reply);
                        client.Finish(kErrorReply);
                        return;
                    }
                    if (invocation.json) {
                        PrintJson(std::cout, reply);
                    } else if (display != nullptr) {
                        display->Finish("Sent " + invocation.arguments.at(2).at(0),
                                        TransferDisplay::Clock::now());
                    } else {
                        PrintResult(std::cout, reply, invocation.details);
                    }
                    client.Finish(kSucceeded);
                });
}

int Run(const Invocation &invocation) {
    boost::asio::io_context io;
    Client client(io);
    std::optional<EventWatch> watch;
    if (invocation.watch) {
        watch.emplace(client, invocation);
        watch->Start();
    } else {
        StartCall(client, invocation);
    }
    return client.Run();
}

} // namespace

int main(int argc, char **argv) {
    CommandLine commandLine;
    try {
        return Run(commandLine.Parse(argc, argv));
    } catch (const CLI::ParseError &error) {
        return commandLine.App().exit(error) == 0 ? kSucceeded : kUsage;
    } catch (const UsageError &error) {
        std::cerr << "vunoctl: " << error.what() << "\nRun with --help for more information."
                  << std::endl;
        return kUsage;
    } catch (const BusFailure &error) {
        std::cerr << "vunoctl: " << error.what() << std::endl;
        return kBusProblem;
    }
}
