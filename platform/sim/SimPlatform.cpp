// The simulated backend: the machine folder named by VSK_SIM_MACHINE (else ".q740-sim"), created with the
// default machine when it does not exist.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <random>

#include "platform/sim/SimParts.h"
#include "platform/sim/SimService.h"
#include "sim/Processes.h"

namespace plat {

namespace {

struct SimPlatform final : Platform {
    simbackend::SimMachine machine;
    std::unique_ptr<simbackend::SimConsole> consoleImpl;
    std::unique_ptr<simbackend::SimFileSystem> filesImpl;
    std::unique_ptr<simbackend::SimRegistry> registryImpl;
    std::unique_ptr<simbackend::SimEnvironment> envImpl;
    std::unique_ptr<simbackend::SimClock> clockImpl;
    std::unique_ptr<simbackend::SimProcesses> processesImpl;
    std::unique_ptr<simbackend::SimPower> powerImpl;
    std::unique_ptr<simbackend::SimNamedObjects> namedObjectsImpl;
    std::unique_ptr<simbackend::SimLibraries> librariesImpl;
    std::unique_ptr<simbackend::SimResources> resourcesImpl;
};

// The program cannot run on a machine it cannot read; it says why and ends with a code of its own.
[[noreturn]] void Fail(const std::string& message) {
    std::fprintf(stderr, "simulated machine: %s\n", message.c_str());
    std::fflush(stderr);
    ::_exit(125);
}

} // namespace

std::unique_ptr<Platform> CreatePlatform() {
    // A console whose reader went away loses text on Windows; it must not kill the process here.
    ::signal(SIGPIPE, SIG_IGN);
    // The machine's time moves on with this process's clock across its loads of the process table.
    std::random_device random;
    sim::ProcessTable::SetCaller((uint64_t{random()} << 32 | random()) | 1);
    auto platform = std::make_unique<SimPlatform>();
    simbackend::SimMachine& machine = platform->machine;
    machine.dir = sim::DefaultMachineDir();
    std::string error;
    if (!sim::MachineExists(machine.dir)) {
        const sim::MachineDescription fresh = sim::DefaultMachine();
        if (!sim::CreateMachine(machine.dir, fresh, error) ||
            !simbackend::PrepareMachineFiles(machine.dir, fresh, error))
            Fail(error);
    }
    if (!sim::LoadMachine(machine.dir, machine.description, error))
        Fail(error);
    platform->consoleImpl = std::make_unique<simbackend::SimConsole>(machine);
    platform->filesImpl = std::make_unique<simbackend::SimFileSystem>(machine);
    platform->registryImpl = std::make_unique<simbackend::SimRegistry>(machine);
    platform->envImpl = std::make_unique<simbackend::SimEnvironment>(machine);
    platform->clockImpl = std::make_unique<simbackend::SimClock>(machine);
    platform->processesImpl = std::make_unique<simbackend::SimProcesses>(machine, *platform->clockImpl);
    platform->powerImpl = std::make_unique<simbackend::SimPower>(machine);
    platform->namedObjectsImpl = std::make_unique<simbackend::SimNamedObjects>(machine, *platform->clockImpl);
    platform->librariesImpl = std::make_unique<simbackend::SimLibraries>(machine);
    platform->resourcesImpl = std::make_unique<simbackend::SimResources>(machine);
    platform->console = platform->consoleImpl.get();
    platform->files = platform->filesImpl.get();
    platform->registry = platform->registryImpl.get();
    platform->env = platform->envImpl.get();
    platform->clock = platform->clockImpl.get();
    platform->processes = platform->processesImpl.get();
    platform->power = platform->powerImpl.get();
    platform->namedObjects = platform->namedObjectsImpl.get();
    platform->libraries = platform->librariesImpl.get();
    platform->resources = platform->resourcesImpl.get();
    return platform;
}

} // namespace plat
