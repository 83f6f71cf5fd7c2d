#include "launcher.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "formats/text/text.h"
#include "platform.h"

namespace launcher {

bool IsCoreLibraryName(std::string_view name) {
    return rt::EqualsIgnoreCase(name, "rtcore.slr") || rt::EqualsIgnoreCase(name, "rtcore.slb");
}

std::string DefaultFolderName(uint32_t folderId) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "Q_N%X", folderId);
    return buffer;
}

StartResult PrepareRuntime(const std::string &executable) {
    StartResult result;
    auto fail = [&](std::string_view message) {
        result.message = std::string(message);
        result.entry = nullptr;
        return result;
    };

    int fd = ::open(executable.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail(kCantOpen);
    payload::FileSource source(fd);
    auto block = payload::ReadPayloadBlock(source);
    ::close(fd);
    if (!block.ok()) return fail(payload::Describe(block.error()));

    auto temporary = TemporaryDirectory();
    if (!temporary) return fail(kNoTempDir);

    auto decoded = payload::DecodePayloadBlock(block.value());
    if (!decoded.ok()) return fail(payload::Describe(decoded.error()));
    std::string folderName =
        decoded->folderName.empty() ? DefaultFolderName(decoded->folderId) : decoded->folderName;
    // The payload's names become paths: only a single, ordinary path component is accepted.
    if (!payload::IsSafeName(folderName)) return fail(payload::Describe(payload::Error::InvalidData));
    result.folder = *temporary + "/" + folderName;
    if (result.folder.size() > kMaxPath) return fail(kNoTempDir);

    auto table = payload::InflateFileTable(block.value().data() + decoded->streamOffset, decoded->streamLength,
                                           decoded->tableSize);
    std::vector<uint8_t>().swap(block.value()); // the block is not needed once the table is out
    if (!table.ok()) return fail(payload::Describe(table.error()));

    // Every entry is checked before anything is written.
    std::span<const uint8_t> bytes(table.value());
    std::vector<payload::FileEntry> entries;
    for (size_t position = 0; position < bytes.size();) {
        auto entry = payload::NextFileEntry(bytes, position);
        if (!entry.ok() || !payload::IsSafeName(entry->name) || result.folder.size() + 1 + entry->name.size() > kMaxPath)
            return fail(payload::Describe(payload::Error::InvalidData));
        entries.push_back(entry.value());
        position = entry->next;
    }

    CreateFolder(result.folder);
    // On a shared temporary directory the folder must be ours alone before anything is loaded from it.
    if (!IsPrivate(result.folder, false)) return fail(kNoTempDir);

    for (const payload::FileEntry &entry : entries) {
        if (IsCoreLibraryName(entry.name)) result.coreLibrary = std::string(entry.name); // the last one wins
        ReplaceFile(result.folder, std::string(entry.name), entry.content); // a file that fails is skipped
    }
    if (result.coreLibrary.empty()) return fail(kNoKernel);

    std::string libraryPath = result.folder + "/" + result.coreLibrary;
    if (!IsPrivate(libraryPath, true)) return fail(kNoTempDir);
    void *library = LoadLibrary(libraryPath);
    if (!library) return fail(kLoadFailed);
    auto getNewSock = reinterpret_cast<GetNewSockFn>(FindSymbol(library, "GetNewSock"));
    if (!getNewSock) return fail(kInvalidKernel);
    auto entry = reinterpret_cast<RuntimeEntryFn>(getNewSock(kGetNewSockArgument));
    if (!entry) return fail(kInvalidInterface);
    result.entry = entry;
    return result;
}

int Run(const void *image) {
    StartResult start;
    if (auto self = OwnPath()) start = PrepareRuntime(*self);
    else start.message = kCantOpen;
    if (start.entry) {
        RuntimeEntryFn entry = start.entry;
        start = StartResult(); // the launcher's own memory is released before the runtime takes over
        entry(image);
    } else {
        ShowErrorBox(start.message);
    }
    return 0;
}

} // namespace launcher
