#include "sim/DesktopManager.h"

#include "sim/Text.h"

namespace sim {

namespace {

const char* const kUnkillableNames[] = {"none", "core", "startup", "both", nullptr};
const char* const kImportNames[] = {"ok", "fails", "no-exit-code", nullptr};
const char* const kContentNames[] = {"text", "percent", "odd-length", "binary", nullptr};

bool Refuses(const DesktopManagerSettings& settings, Unkillable which) {
    const auto mode = static_cast<Unkillable>(settings.unkillable);
    return mode == which || mode == Unkillable::Both;
}

const char kStoreText[] = "[Lumoview]\r\nVersion=4.2.1\r\nLayout=Span 2x1\r\nHotkeys=Ctrl+Alt+L\r\n"
                          "[Display 1]\r\nProfile=Studio\r\nRotation=0\r\n";

ProcessEntry LumoProcess(const char* image, const std::string& folder, uint32_t session, uint32_t parentPid,
                         bool canTerminate) {
    ProcessEntry process;
    process.image = image;
    process.path = folder + image;
    process.session = session;
    process.parentPid = parentPid;
    process.canTerminate = canTerminate;
    return process;
}

// NUL bytes, bytes that are no UTF-8 or UTF-16 text, a CR without its LF, a cut UTF-8 sequence.
const char kBlob[] = "Blob=\0\x01\xFF\xFE\x80\xC3\r\x1A\0\0\xE2\x82";

// The text after the verb: the file, without surrounding quotes.
bool VerbFile(const std::string& arguments, const char* verb, std::string& file) {
    const std::string text = Trim(arguments);
    const std::string word(verb);
    if (FoldCaseAscii(text.substr(0, word.size())) != FoldCaseAscii(word) || text.size() <= word.size() ||
        (text[word.size()] != ' ' && text[word.size()] != '\t'))
        return false;
    file = Trim(text.substr(word.size()));
    if (file.size() >= 2 && file.front() == '"' && file.back() == '"')
        file = file.substr(1, file.size() - 2);
    return !file.empty();
}

} // namespace

const std::vector<Field<DesktopManagerSettings>>& DesktopManagerFields() {
    using S = DesktopManagerSettings;
    static const std::vector<Field<S>> fields = {
        BoolField("close-event", &S::closeEvent),
        RangeField("close-ms", &S::closeMs, 0, 600000),
        BoolField("core-restarts", &S::coreRestarts),
        RangeField("restart-ms", &S::restartMs, 0, 600000),
        NamesField("unkillable", &S::unkillable, kUnkillableNames),
        RangeField("export-ms", &S::exportMs, 0, 600000),
        RangeField("import-ms", &S::importMs, 0, 600000),
        NamesField("import", &S::import, kImportNames),
        NamesField("settings", &S::content, kContentNames),
    };
    return fields;
}

std::string LumoFolder(bool os64) {
    return std::string(os64 ? "C:\\Program Files (x86)" : "C:\\Program Files") +
           "\\Veskora Graphics\\Lumoview\\";
}

std::string LumoCloseEventName(uint32_t session) {
    return kLumoCloseEventPrefix + std::to_string(session);
}

std::string InitialStore(StoreContent content) {
    std::string store = kStoreText;
    switch (content) {
    case StoreContent::Text:
        break;
    case StoreContent::Percent:
        store += "Wallpaper=%USERPROFILE%\\Pictures\\wall.png\r\nScale=100%\r\nCaption=50%% %s %d %n\r\n";
        break;
    case StoreContent::OddLength:
        store += "Tag=odd\r\nX";
        if (store.size() % 2 == 0)
            store += "Y";
        break;
    case StoreContent::Binary:
        store.append(kBlob, sizeof kBlob); // its last byte is the literal's NUL: the store ends in one
        break;
    }
    return store;
}

ProcessEntry LumoCoreProcess(const DesktopManagerSettings& settings, const std::string& folder,
                             uint32_t session, uint32_t parentPid) {
    ProcessEntry core =
        LumoProcess(kLumoCoreImage, folder, session, parentPid, !Refuses(settings, Unkillable::Core));
    if (settings.closeEvent) {
        core.holdsEvent = LumoCloseEventName(session);
        core.exitsOnEvent = true;
        core.exitDelayMs = settings.closeMs;
    }
    core.respawns = settings.coreRestarts ? 1 : 0;
    core.respawnMs = settings.restartMs;
    return core;
}

ProcessEntry LumoStartupProcess(const DesktopManagerSettings& settings, const std::string& folder,
                                uint32_t session, uint32_t parentPid) {
    return LumoProcess(kLumoStartupImage, folder, session, parentPid,
                       !Refuses(settings, Unkillable::Startup));
}

void StartLumoAtLogon(ProcessTable& table, const DesktopManagerSettings& settings, const std::string& folder,
                      uint32_t session, uint32_t explorerPid, uint64_t nowMs) {
    const uint32_t startup = table.Start(LumoStartupProcess(settings, folder, session, explorerPid), nowMs);
    StartLumoCore(table, settings, folder, session, startup, nowMs);
}

uint32_t StartLumoCore(ProcessTable& table, const DesktopManagerSettings& settings, const std::string& folder,
                       uint32_t session, uint32_t parentPid, uint64_t nowMs) {
    bool running = false;
    for (const ProcessEntry& p : table.Snapshot(nowMs))
        running = running || (p.image == kLumoCoreImage && p.session == session);
    ProcessEntry core = LumoCoreProcess(settings, folder, session, parentPid);
    if (!running)
        return table.Start(core, nowMs);
    core.holdsEvent.clear(); // the second instance ends before it opens anything
    const uint32_t pid = table.Start(core, nowMs);
    table.Exit(pid, 0, nowMs);
    return pid;
}

LumoCmdRun RunLumoCmd(const DesktopManagerSettings& settings, const std::string& arguments,
                      ToolFiles& files) {
    LumoCmdRun run;
    std::string file;
    if (VerbFile(arguments, "/export", file)) {
        run.runMs = settings.exportMs;
        std::string store;
        if (!files.Read(kLumoStorePath, store))
            store = InitialStore(static_cast<StoreContent>(settings.content));
        if (!files.Write(file, store)) {
            run.output = "LumoCmd: cannot write " + file + "\r\n";
            run.exitCode = 2;
        }
        return run;
    }
    if (VerbFile(arguments, "/import", file)) {
        run.runMs = settings.importMs;
        std::string bytes;
        const auto outcome = static_cast<ImportOutcome>(settings.import);
        if (!files.Read(file, bytes)) {
            run.output = "LumoCmd: cannot read " + file + "\r\n";
            run.exitCode = 2;
        } else if (outcome == ImportOutcome::Fails) {
            run.output = "LumoCmd: the settings in " + file + " were not applied\r\n";
            run.exitCode = 3;
        } else if (!files.Write(kLumoStorePath, bytes)) {
            run.output = "LumoCmd: cannot store the settings\r\n";
            run.exitCode = 2;
        }
        run.exitCodeReadable = outcome != ImportOutcome::NoExitCode;
        return run;
    }
    run.output = "Usage: Veskora.LumoCmd.exe /export FILE | /import FILE\r\n";
    run.exitCode = 1;
    return run;
}

} // namespace sim
