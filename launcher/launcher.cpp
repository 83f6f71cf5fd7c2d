#include "launcher.h"

#include <cstdio>

#include "formats/text/text.h"
#include "platform.h"

namespace launcher {

std::string_view Describe(Error e) {
    switch (e) {
    case Error::CantOpen: return "Can't open file!";
    case Error::InvalidData: return payload::Describe(payload::Error::InvalidData);
    case Error::ReadFailed: return payload::Describe(payload::Error::ReadFailed);
    case Error::ReadOrInvalid: return payload::Describe(payload::Error::ReadOrInvalid);
    case Error::NoMemory: return payload::Describe(payload::Error::NoMemory);
    case Error::DecompressFailed: return payload::Describe(payload::Error::DecompressFailed);
    case Error::NoTempDir: return "Can't retrieve the temporary directory!";
    case Error::NoKernel: return "Not found the kernel library!";
    case Error::LoadFailed: return "Failed to load kernel library!";
    case Error::InvalidKernel: return "The kernel library is invalid!";
    case Error::InvalidInterface: return "The interface of kernel library is invalid!";
    case Error::WriteFailed: return "Can't write the runtime's files!";
    case Error::ElevatedStart:
        return "Started with rights it does not use: only CAP_NET_RAW or setuid root are supported.";
    }
    return "Unknown error!";
}

std::string Describe(const Failure &f) {
    std::string message(Describe(f.code));
    return f.detail.empty() ? message : message + " (" + f.detail + ")";
}

bool IsCoreLibraryName(std::string_view name) {
    return rt::EqualsIgnoreCase(name, "rtcore.slr") || rt::EqualsIgnoreCase(name, "rtcore.slb");
}

std::string DefaultFolderName(uint32_t folderId) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "Q_N%X", folderId);
    return buffer;
}

namespace {

Failure FromPayload(payload::Error e) {
    switch (e) {
    case payload::Error::ReadFailed: return {Error::ReadFailed, {}};
    case payload::Error::ReadOrInvalid: return {Error::ReadOrInvalid, {}};
    case payload::Error::NoMemory: return {Error::NoMemory, {}};
    case payload::Error::DecompressFailed: return {Error::DecompressFailed, {}};
    default: return {Error::InvalidData, {}};
    }
}

} // namespace

rt::Result<Prepared, Failure> PrepareRuntime(const std::string &executable) {
    Prepared result;
    auto fd = OpenForReading(executable);
    if (!fd) return fd.error();
    payload::FileSource source(*fd);
    auto block = payload::ReadPayloadBlock(source);
    CloseFile(*fd);
    if (!block) return FromPayload(block.error());

    auto decoded = payload::DecodePayloadBlock(block.value());
    if (!decoded) return FromPayload(decoded.error());
    std::string folderName = decoded->folderName.empty() ? DefaultFolderName(decoded->folderId) : decoded->folderName;
    // The payload's names become paths: only a single, ordinary path component is accepted.
    if (!payload::IsSafeName(folderName)) return Failure{Error::InvalidData, {}};

    auto table =
        payload::InflateFileTable(block->data() + decoded->streamOffset, decoded->streamLength, decoded->tableSize);
    std::vector<uint8_t>().swap(block.value()); // the block is not needed once the table is out
    if (!table) return FromPayload(table.error());

    // Every entry is checked before anything is written.
    std::span<const uint8_t> bytes(table.value());
    std::vector<payload::FileEntry> entries;
    const payload::FileEntry *core = nullptr;
    for (size_t position = 0; position < bytes.size();) {
        auto entry = payload::NextFileEntry(bytes, position);
        if (!entry || !payload::IsSafeName(entry->name)) return Failure{Error::InvalidData, {}};
        entries.push_back(entry.value());
        position = entry->next;
    }
    for (const payload::FileEntry &entry : entries)
        if (IsCoreLibraryName(entry.name)) core = &entry; // the last one wins

    // A folder of this user's alone: a shared or foreign one is never used.
    auto folder = PrivateFolder(folderName);
    if (!folder) return folder.error();
    result.folder = folder->path;
    for (const payload::FileEntry &entry : entries) {
        if (result.folder.size() + 1 + entry.name.size() > kMaxPath) return Failure{Error::NoTempDir, "path too long"};
        auto written = WriteExtractedFile(result.folder, std::string(entry.name), entry.content);
        // Another file that cannot be written is left out; the core library never is.
        if (!written && &entry == core) return written.error();
    }
    if (!core) return Failure{Error::NoKernel, {}};
    result.coreLibrary = std::string(core->name);

    // Loaded only when its bytes are the payload's, through the descriptor that was checked.
    auto library = LoadVerifiedLibrary(result.folder + "/" + result.coreLibrary, core->content);
    if (!library) return library.error();
    // Nothing else of a fresh folder is used once the library is loaded.
    if (folder->fresh && entries.size() == 1) RemoveFreshFolder(result.folder);
    auto symbol = FindSymbol(*library, "GetNewSock");
    if (!symbol) return symbol.error();
    auto getNewSock = reinterpret_cast<GetNewSockFn>(*symbol);
    result.entry = reinterpret_cast<RuntimeEntryFn>(getNewSock(kGetNewSockArgument));
    if (!result.entry) return Failure{Error::InvalidInterface, {}};
    return result;
}

void ShowFailure(const Failure &f, bool errorBox) {
    std::string message = Describe(f);
    std::fprintf(stderr, "Error: %s\n", message.c_str());
    std::fflush(stderr);
    if (errorBox) ShowErrorBox(message);
}

int Run(const void *image, int failureCode) {
    RuntimeEntryFn entry = nullptr;
    {
        auto self = OwnPath();
        auto prepared = self ? PrepareRuntime(*self) : rt::Result<Prepared, Failure>(self.error());
        if (!prepared) {
            ShowFailure(prepared.error(), failureCode == 0);
            return failureCode;
        }
        entry = prepared->entry;
    } // the launcher's own memory is released before the runtime takes over
    entry(image);
    return 0;
}

} // namespace launcher
