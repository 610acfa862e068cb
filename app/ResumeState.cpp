#include "app/ResumeState.h"

#include "app/RegistryText.h"

namespace {

// The settings file the desktop manager writes is small; a "Config" larger than this is not taken.
constexpr size_t kMaxConfigBytes = 16u << 20;

plat::RegValue RawString(const std::string& bytes) {
    plat::RegValue value;
    value.type = plat::RegType::String;
    value.data = bytes;
    value.exactBytes = true;
    return value;
}

} // namespace

std::wstring StorableTranscript(const std::wstring& transcript) {
    if (transcript.size() <= kMaxStoredTranscriptChars)
        return transcript;
    return transcript.substr(transcript.size() - kMaxStoredTranscriptChars);
}

ResumeStage ClassifyResumeState(plat::Registry& registry) {
    std::wstring text;
    if (ReadRegistryString(registry, kProgramKey, L"Log", text, kResumeView32))
        return ResumeStage::FinalPassPending;
    plat::RegValue runOnce;
    if (registry.QueryValue(kRunOnceKey, kRunOnceValue, kRegistryStringBufferBytes, runOnce, kResumeView32) !=
        plat::kErrorSuccess)
        return ResumeStage::Clean;
    plat::RegValue config;
    if (registry.QueryValue(kProgramKey, L"Config", kMaxConfigBytes, config, kResumeView32) ==
            plat::kErrorSuccess &&
        !config.data.empty())
        return ResumeStage::DriverRestartPending;
    return ResumeStage::TestRunPending;
}

void CResumeState::CreateProgramKey() {
    registry_.CreateKey(kProgramKey, kResumeView32);
}

bool CResumeState::ReadLog(std::wstring& transcript) {
    return ReadRegistryString(registry_, kProgramKey, L"Log", transcript, kResumeView32);
}

bool CResumeState::ReadConfig(std::string& bytes) {
    plat::RegValue value;
    if (registry_.QueryValue(kProgramKey, L"Config", kMaxConfigBytes, value, kResumeView32) !=
            plat::kErrorSuccess ||
        value.data.empty())
        return false;
    bytes = value.data;
    return true;
}

bool CResumeState::ReadRestore(std::wstring& command) {
    return ReadRegistryString(registry_, kProgramKey, L"Restore", command, kResumeView32);
}

bool CResumeState::ReadValidate(uint32_t& cards) {
    plat::RegValue value;
    if (registry_.QueryValue(kProgramKey, L"Validate", 4, value, kResumeView32) != plat::kErrorSuccess ||
        value.type != plat::RegType::Dword || value.data.size() != 4)
        return false;
    cards = 0;
    for (int i = 3; i >= 0; --i)
        cards = cards << 8 | static_cast<uint8_t>(value.data[static_cast<size_t>(i)]);
    return true;
}

bool CResumeState::ReadAdapterIndex(uint32_t card, int32_t& index) {
    plat::RegValue value;
    if (registry_.QueryValue(kProgramKey, L"ADLINDEX" + std::to_wstring(card), 4, value, kResumeView32) !=
            plat::kErrorSuccess ||
        value.type != plat::RegType::Dword || value.data.size() != 4)
        return false;
    uint32_t bits = 0;
    for (int i = 3; i >= 0; --i)
        bits = bits << 8 | static_cast<uint8_t>(value.data[static_cast<size_t>(i)]);
    index = static_cast<int32_t>(bits);
    return true;
}

void CResumeState::WriteRunOnce(const std::wstring& command) {
    // The length excludes the terminating null.
    plat::RegValue value = plat::RegValue::WideString(command);
    value.data.resize(value.data.size() - 2);
    registry_.CreateKey(kRunOnceKey, kResumeView32);
    registry_.SetValue(kRunOnceKey, kRunOnceValue, value, kResumeView32);
}

void CResumeState::WriteDriverRestart(const std::wstring& runOnceCommand, const std::string* config) {
    WriteRunOnce(runOnceCommand);
    if (config) {
        CreateProgramKey();
        registry_.SetValue(kProgramKey, L"Config", RawString(*config), kResumeView32);
    }
}

void CResumeState::WriteFinalPass(const std::wstring& transcript, const std::wstring& restoreCommand,
                                  const std::wstring& runOnceCommand) {
    CreateProgramKey();
    registry_.SetValue(kProgramKey, L"Log", plat::RegValue::WideString(StorableTranscript(transcript)),
                       kResumeView32);
    registry_.SetValue(kProgramKey, L"Restore", plat::RegValue::WideString(restoreCommand), kResumeView32);
    WriteRunOnce(runOnceCommand);
}

void CResumeState::WriteValidate(const std::vector<int32_t>& adapterIndexes) {
    CreateProgramKey();
    registry_.SetValue(kProgramKey, L"Validate",
                       plat::RegValue::Dword(static_cast<uint32_t>(adapterIndexes.size())), kResumeView32);
    for (size_t i = 0; i < adapterIndexes.size(); ++i)
        registry_.SetValue(kProgramKey, L"ADLINDEX" + std::to_wstring(i),
                           plat::RegValue::Dword(static_cast<uint32_t>(adapterIndexes[i])), kResumeView32);
}

void CResumeState::DeleteLog() {
    registry_.DeleteValue(kProgramKey, L"Log", kResumeView32);
}

void CResumeState::DeleteRestore() {
    registry_.DeleteValue(kProgramKey, L"Restore", kResumeView32);
}

void CResumeState::DeleteValidate() {
    registry_.DeleteValue(kProgramKey, L"Validate", kResumeView32);
}

void CResumeState::ForgetResumeState() {
    registry_.DeleteValue(kRunOnceKey, kRunOnceValue, kResumeView32);
    registry_.DeleteValue(kProgramKey, L"Config", kResumeView32);
}
