#include "fakes/FakeFileSystem.h"

std::wstring FakeFileSystem::Widen(const std::string& path) {
    std::wstring wide;
    wide.reserve(path.size());
    for (char c : path)
        wide.push_back(wchar_t(static_cast<unsigned char>(c)));
    return wide;
}

void FakeFileSystem::SetFile(const std::wstring& path, const std::string& bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    files_[path] = bytes;
}

bool FakeFileSystem::HasFile(const std::wstring& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return files_.count(path) != 0;
}

std::string FakeFileSystem::FileText(const std::wstring& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = files_.find(path);
    return it != files_.end() ? it->second : std::string();
}

bool FakeFileSystem::HasDirectory(const std::wstring& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return directories_.count(path) != 0;
}

FakeFileSystem::Faults& FakeFileSystem::FaultsFor(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    return faults_[path];
}

int FakeFileSystem::ReadCount(const std::wstring& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = reads_.find(path);
    return it != reads_.end() ? it->second : 0;
}

FakeFileSystem::Faults FakeFileSystem::FaultsOf(const std::wstring& path) const {
    auto it = faults_.find(path);
    return it != faults_.end() ? it->second : Faults();
}

plat::ReadStatus FakeFileSystem::ReadWhole(const std::string& path, std::vector<uint8_t>& data) {
    return ReadWhole(Widen(path), data);
}

plat::ReadStatus FakeFileSystem::ReadWhole(const std::wstring& path, std::vector<uint8_t>& data) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++reads_[path];
    const Faults faults = FaultsOf(path);
    auto it = files_.find(path);
    if (it == files_.end() || faults.openFails)
        return plat::ReadStatus::OpenFailed;
    if (faults.sizeFails)
        return plat::ReadStatus::SizeFailed;
    if (faults.outOfMemory)
        return plat::ReadStatus::OutOfMemory;
    if (faults.readFails)
        return plat::ReadStatus::ReadFailed;
    data.assign(it->second.begin(), it->second.end());
    return plat::ReadStatus::Ok;
}

bool FakeFileSystem::Append(const std::wstring& path, const std::string& bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    const Faults faults = FaultsOf(path);
    if (faults.openFails || faults.writeFails || directories_.count(path) != 0)
        return false;
    files_[path] += bytes;
    return true;
}

bool FakeFileSystem::WriteWhole(const std::wstring& path, const std::string& bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    const Faults faults = FaultsOf(path);
    if (faults.openFails || faults.writeFails || directories_.count(path) != 0)
        return false;
    files_[path] = bytes;
    return true;
}

bool FakeFileSystem::MakeDirectory(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (FaultsOf(path).mkdirFails || directories_.count(path) != 0 || files_.count(path) != 0)
        return false;
    directories_.insert(path);
    return true;
}

bool FakeFileSystem::RemoveFile(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (FaultsOf(path).removeFails)
        return false;
    return files_.erase(path) != 0;
}

bool FakeFileSystem::FileExists(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    return files_.count(path) != 0;
}
