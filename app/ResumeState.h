// The registry state an update keeps across restarts: the program's key with its values and the RunOnce
// entry that starts the program again at the next logon. Both live in the 32-bit registry view, where the
// 32-bit program's state and the system's RunOnce entries for it are kept on 64-bit Windows; every build
// opens them there explicitly, so the test build sees where the product writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"

constexpr const wchar_t* kProgramKey = L"SOFTWARE\\Veskora Graphics\\VskQ740FwUpdater";
constexpr const wchar_t* kRunOnceKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr const wchar_t* kRunOnceValue = L"VskQ740FwUpdater";
constexpr bool kResumeView32 = true;

// The transcript stored as "Log" must be readable again: a string value is read into 131072 bytes, UTF-16
// with its terminating null, so at most this many characters are stored (the newest ones).
constexpr size_t kMaxStoredTranscriptChars = 131072 / 2 - 1;

// What a run finds when it starts, by what the registry holds.
enum class ResumeStage { Clean, DriverRestartPending, FinalPassPending, TestRunPending };
ResumeStage ClassifyResumeState(plat::Registry& registry);

// The newest part of a transcript that can be read back.
std::wstring StorableTranscript(const std::wstring& transcript);

class CResumeState {
public:
    explicit CResumeState(plat::Registry& registry) : registry_(registry) {}

    // "Log" when it can be read (the final pass is due).
    bool ReadLog(std::wstring& transcript);
    // "Config" when it holds something: the desktop manager's settings saved before a restart, as stored.
    bool ReadConfig(std::string& bytes);
    bool ReadRestore(std::wstring& command);
    // "Validate" (the card count) and the adapter indexes; false without "Validate".
    bool ReadValidate(uint32_t& cards);
    // The card's "ADLINDEX" value; false when it is missing or not a number.
    bool ReadAdapterIndex(uint32_t card, int32_t& index);

    // Before the restart a disable needs: the RunOnce entry and the settings.
    void WriteDriverRestart(const std::wstring& runOnceCommand, const std::string* config);
    // Before the restart that follows an update: the transcript, the import command and the RunOnce entry.
    void WriteFinalPass(const std::wstring& transcript, const std::wstring& restoreCommand,
                        const std::wstring& runOnceCommand);
    void WriteRunOnce(const std::wstring& command);
    // "Validate" and one "ADLINDEX" value per card, after an update through the display library.
    void WriteValidate(const std::vector<int32_t>& adapterIndexes);

    void DeleteLog();
    void DeleteRestore();
    void DeleteValidate();
    // Removes the RunOnce entry and "Config", so that nothing resumes after the next restart.
    void ForgetResumeState();

private:
    void CreateProgramKey();
    plat::Registry& registry_;
};
