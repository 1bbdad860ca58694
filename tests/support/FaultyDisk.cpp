#include "tests/support/FaultyDisk.hpp"

#include <sqlite3.h>
#include <stdexcept>

namespace orlune::testing {

namespace {

struct Layer {
    sqlite3_vfs* real = nullptr;
    sqlite3_vfs vfs{};
    std::atomic<bool> full{false};
    std::atomic<int> refused{0};
};

Layer* layer = nullptr;

// A file of the layer: the real file's state lives right after it.
struct File {
    sqlite3_file base;
    sqlite3_file* real;
};

sqlite3_file* realOf(sqlite3_file* file) {
    return reinterpret_cast<File*>(file)->real;
}

int close(sqlite3_file* file) {
    return realOf(file)->pMethods->xClose(realOf(file));
}
int read(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset) {
    return realOf(file)->pMethods->xRead(realOf(file), buffer, amount, offset);
}
int write(sqlite3_file* file, const void* buffer, int amount, sqlite3_int64 offset) {
    if (layer->full) {
        ++layer->refused;
        return SQLITE_FULL;
    }
    return realOf(file)->pMethods->xWrite(realOf(file), buffer, amount, offset);
}
int truncate(sqlite3_file* file, sqlite3_int64 size) {
    return realOf(file)->pMethods->xTruncate(realOf(file), size);
}
int sync(sqlite3_file* file, int flags) {
    return realOf(file)->pMethods->xSync(realOf(file), flags);
}
int fileSize(sqlite3_file* file, sqlite3_int64* size) {
    return realOf(file)->pMethods->xFileSize(realOf(file), size);
}
int lock(sqlite3_file* file, int level) {
    return realOf(file)->pMethods->xLock(realOf(file), level);
}
int unlock(sqlite3_file* file, int level) {
    return realOf(file)->pMethods->xUnlock(realOf(file), level);
}
int checkReservedLock(sqlite3_file* file, int* reserved) {
    return realOf(file)->pMethods->xCheckReservedLock(realOf(file), reserved);
}
int fileControl(sqlite3_file* file, int op, void* argument) {
    return realOf(file)->pMethods->xFileControl(realOf(file), op, argument);
}
int sectorSize(sqlite3_file* file) {
    return realOf(file)->pMethods->xSectorSize(realOf(file));
}
int deviceCharacteristics(sqlite3_file* file) {
    return realOf(file)->pMethods->xDeviceCharacteristics(realOf(file));
}
int shmMap(sqlite3_file* file, int region, int size, int extend, void volatile** memory) {
    return realOf(file)->pMethods->xShmMap(realOf(file), region, size, extend, memory);
}
int shmLock(sqlite3_file* file, int offset, int count, int flags) {
    return realOf(file)->pMethods->xShmLock(realOf(file), offset, count, flags);
}
void shmBarrier(sqlite3_file* file) {
    realOf(file)->pMethods->xShmBarrier(realOf(file));
}
int shmUnmap(sqlite3_file* file, int deleteFlag) {
    return realOf(file)->pMethods->xShmUnmap(realOf(file), deleteFlag);
}
int fetch(sqlite3_file* file, sqlite3_int64 offset, int amount, void** pages) {
    return realOf(file)->pMethods->xFetch(realOf(file), offset, amount, pages);
}
int unfetch(sqlite3_file* file, sqlite3_int64 offset, void* page) {
    return realOf(file)->pMethods->xUnfetch(realOf(file), offset, page);
}

const sqlite3_io_methods kMethods = {
    3,
    close,
    read,
    write,
    truncate,
    sync,
    fileSize,
    lock,
    unlock,
    checkReservedLock,
    fileControl,
    sectorSize,
    deviceCharacteristics,
    shmMap,
    shmLock,
    shmBarrier,
    shmUnmap,
    fetch,
    unfetch,
};

int open(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
    auto* wrapped = reinterpret_cast<File*>(file);
    wrapped->real = reinterpret_cast<sqlite3_file*>(wrapped + 1);
    const int rc = layer->real->xOpen(layer->real, name, wrapped->real, flags, outFlags);
    wrapped->base.pMethods = wrapped->real->pMethods != nullptr ? &kMethods : nullptr;
    return rc;
}

} // namespace

FaultyDisk::FaultyDisk() {
    if (layer != nullptr) {
        throw std::logic_error("one FaultyDisk at a time");
    }
    layer = new Layer;
    layer->real = sqlite3_vfs_find(nullptr);
    layer->vfs = *layer->real;
    layer->vfs.zName = "orlune-faulty-disk";
    layer->vfs.pNext = nullptr;
    layer->vfs.szOsFile = static_cast<int>(sizeof(File)) + layer->real->szOsFile;
    layer->vfs.xOpen = open;
    sqlite3_vfs_register(&layer->vfs, 1);
}

FaultyDisk::~FaultyDisk() {
    sqlite3_vfs_unregister(&layer->vfs);
    sqlite3_vfs_register(layer->real, 1);
    delete layer;
    layer = nullptr;
}

void FaultyDisk::setFull(bool full) {
    layer->refused = 0;
    layer->full = full;
}

int FaultyDisk::refusedWrites() const {
    return layer->refused;
}

} // namespace orlune::testing
