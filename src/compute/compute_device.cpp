#include "compute/compute_device.h"

#include <CL/cl.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <system_error>
#include <type_traits>
#include <vector>

#include "compute/label_reach.h"
#include "compute/nearest_candidates.h"
#include "compute/program_cache.h"
#include "model/records.h"

namespace vanto {

namespace {

// Buffer slots in creation (and release) order.
enum Buffer : int {
    devLabelsPrev,
    devLabelsCur,
    devOutA,
    devOutB,
    devCellTable,
    devOffsetDx,
    devOffsetDy,
    devGroupSpans,
    devGroupEntries,
    devFirstA,
    devFirstB,
    bufferCount,
};
const char* const kBufferNames[bufferCount] = {"devLabelsPrev", "devLabelsCur",  "devOutA",
                                               "devOutB",       "devCellTable",  "devOffsetDx",
                                               "devOffsetDy",   "devGroupSpans", "devGroupEntries",
                                               "devFirstA",     "devFirstB"};

constexpr size_t kNameBytes = 256;
constexpr size_t kCellTableBytes = sizeof(int32_t) * kCellWords * kTableRecords;
constexpr size_t kOffsetTableBytes = sizeof(int8_t) * kWindowOffsets;
// The kernels index pixels in 32 bits and keep squared distances exact for sides below 2^16.
constexpr int32_t kMaxSide = 65535;
constexpr int64_t kMaxPixels = std::numeric_limits<int32_t>::max();
constexpr size_t kAddOneGroupSide = 16;

// Closes a FILE at scope end.
struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Releases a command queue at scope end.
struct QueueReleaser {
    void operator()(cl_command_queue q) const { clReleaseCommandQueue(q); }
};
using QueuePtr = std::unique_ptr<std::remove_pointer_t<cl_command_queue>, QueueReleaser>;

// One host block moved to or from a device buffer.
struct Transfer {
    Buffer buffer;
    const void* source;  // uploads
    void* target;        // read-backs
    size_t bytes = 0;    // 0: the whole buffer
};

std::string failure(const std::string& call, cl_int status) {
    return call + " failed with OpenCL status " + std::to_string(status);
}

std::string onBuffer(const char* call, int buffer) { return std::string(call) + "(" + kBufferNames[buffer] + ")"; }

// Said when the machine offers no OpenCL platform or device.
constexpr const char* kInstallHint =
    "install an OpenCL driver (on Debian the package pocl-opencl-icd runs the kernels on the processor; a "
    "graphics card needs its maker's OpenCL driver) and check that /etc/OpenCL/vendors lists it";

// The first lines of a build log, on one line, for a message that must stay short.
std::string excerpt(const char* log) {
    constexpr size_t kExcerptLines = 3;
    constexpr size_t kExcerptChars = 300;
    std::string out;
    size_t lines = 0;
    for (const char* p = log; *p && lines < kExcerptLines && out.size() < kExcerptChars;) {
        const char* end = p;
        while (*end && *end != '\n') ++end;
        if (end > p) {
            if (!out.empty()) out += " | ";
            out.append(p, end);
            ++lines;
        }
        p = *end ? end + 1 : end;
    }
    if (out.size() > kExcerptChars) out.resize(kExcerptChars);
    return out;
}

}  // namespace

// Everything created by open(); released in the fixed teardown order.
struct ComputeDevice::Handles {
    Handles() = default;
    Handles(const Handles&) = delete;
    Handles& operator=(const Handles&) = delete;
    ~Handles() {
        if (kernelAddOne) clReleaseKernel(kernelAddOne);
        if (kernelAddTwo) clReleaseKernel(kernelAddTwo);
        for (cl_mem b : buffers) {
            if (b) clReleaseMemObject(b);
        }
        if (program) clReleaseProgram(program);
        if (context) clReleaseContext(context);
    }

    cl_device_id device = nullptr;
    cl_context context = nullptr;
    cl_program program = nullptr;
    cl_mem buffers[bufferCount] = {};
    size_t bufferBytes[bufferCount] = {};
    cl_kernel kernelAddOne = nullptr;
    cl_kernel kernelAddTwo = nullptr;
    size_t globalSize[2] = {0, 0};
    // addone runs in square groups: its groups prune the centres by their pixel rectangle, and
    // a square has the smallest reach for its area. The range is rounded up to whole groups;
    // the kernel writes only the pixels inside the frame.
    size_t addOneLocal[2] = {1, 1};
    size_t addOneGlobal[2] = {0, 0};
    NearestCandidates candidates;  // addone's candidate records of each group, built per run
    LabelReach reach;              // addtwo's first offset of each tile, built per run when pruning
    // Off by default: on the measured series the searches end at their first offset for most
    // pixels, and listing the starts costs the host more than the kernel saves (docs/speed.md).
    bool pruneAddTwo = false;

    std::string chooseDevice(std::ostream& console);
    std::string buildProgram(const std::string& kernelPath, const std::string& cacheFolder, std::ostream& console,
                             bool& fromCache);
    // What a built program depends on besides its source: platform, device and driver.
    std::string deviceIdentity() const;
    // The program from a cached binary, built for the device; false (and no program) when
    // the binary is refused.
    bool programFromBinary(const std::vector<unsigned char>& binary);
    // The device's binary of the built program; empty when it cannot be had.
    std::vector<unsigned char> programBinary() const;
    std::string createKernels(int32_t width, int32_t height, const std::string& kernelPath);
    std::string sizeAddOneGroups(int32_t width, int32_t height, const std::string& kernelPath);

    // One synchronous kernel run: fresh queue, blocking uploads, the 2-D range, blocking
    // read-backs, finish. The queue is released on every path.
    std::string run(cl_kernel kernel, const size_t* global, const size_t* local, const Transfer* uploads,
                    int uploadCount, const Transfer* readBacks, int readBackCount) {
        cl_int status = CL_SUCCESS;
        QueuePtr queue(clCreateCommandQueue(context, device, 0, &status));
        if (status != CL_SUCCESS) return failure("clCreateCommandQueue", status);
        for (int i = 0; i < uploadCount; ++i) {
            const Transfer& t = uploads[i];
            status = clEnqueueWriteBuffer(queue.get(), buffers[t.buffer], CL_TRUE, 0,
                                          t.bytes ? t.bytes : bufferBytes[t.buffer], t.source, 0, nullptr, nullptr);
            if (status != CL_SUCCESS) return failure(onBuffer("clEnqueueWriteBuffer", t.buffer), status);
        }
        status = clEnqueueNDRangeKernel(queue.get(), kernel, 2, nullptr, global, local, 0, nullptr, nullptr);
        if (status != CL_SUCCESS) return failure("clEnqueueNDRangeKernel", status);
        for (int i = 0; i < readBackCount; ++i) {
            const Transfer& t = readBacks[i];
            status = clEnqueueReadBuffer(queue.get(), buffers[t.buffer], CL_TRUE, 0, bufferBytes[t.buffer], t.target, 0,
                                         nullptr, nullptr);
            if (status != CL_SUCCESS) return failure(onBuffer("clEnqueueReadBuffer", t.buffer), status);
        }
        status = clFinish(queue.get());
        if (status != CL_SUCCESS) return failure("clFinish", status);
        return {};
    }
};

// The steps of opening a device, each returning why it failed (empty when it went well).
std::string ComputeDevice::Handles::chooseDevice(std::ostream& console) {
    // First device of the first platform, whatever its type.
    cl_platform_id platforms[8] = {};
    cl_uint platformCount = 0;
    cl_int status = clGetPlatformIDs(8, platforms, &platformCount);
    if (status != CL_SUCCESS || platformCount == 0) {
        const std::string call = status != CL_SUCCESS ? " (" + failure("clGetPlatformIDs", status) + ")" : "";
        return "no OpenCL platform found" + call + ": " + kInstallHint;
    }
    char name[kNameBytes] = {};
    status = clGetPlatformInfo(platforms[0], CL_PLATFORM_NAME, kNameBytes, name, nullptr);
    if (status != CL_SUCCESS) return failure("clGetPlatformInfo(CL_PLATFORM_NAME)", status);
    name[kNameBytes - 1] = '\0';
    cl_device_id devices[8] = {};
    cl_uint deviceCount = 0;
    status = clGetDeviceIDs(platforms[0], CL_DEVICE_TYPE_ALL, 8, devices, &deviceCount);
    if (status != CL_SUCCESS || deviceCount == 0) {
        const std::string call = status != CL_SUCCESS ? " (" + failure("clGetDeviceIDs", status) + ")" : "";
        return std::string("the OpenCL platform \"") + name + "\" offers no device" + call + ": " + kInstallHint +
                 "; the processor runtime also needs a writable cache folder (set POCL_CACHE_DIR to one)";
    }
    device = devices[0];

    console << "Platform name : " << name << "\n" << std::flush;
    status = clGetDeviceInfo(device, CL_DEVICE_NAME, kNameBytes, name, nullptr);
    if (status != CL_SUCCESS) return failure("clGetDeviceInfo(CL_DEVICE_NAME)", status);
    name[kNameBytes - 1] = '\0';
    console << "Device name : " << name << "\n" << std::flush;

    return {};
}

std::string ComputeDevice::Handles::buildProgram(const std::string& kernelPath, const std::string& cacheFolder,
                                                 std::ostream& console, bool& fromCache) {
    fromCache = false;
    cl_int status = CL_SUCCESS;
    context = clCreateContext(nullptr, 1, &device, nullptr, nullptr, &status);
    if (status != CL_SUCCESS) return failure("clCreateContext", status);

    // Program source, read in text mode: the count read may fall short of the file length.
    std::vector<char> source;
    {
        FilePtr file(std::fopen(kernelPath.c_str(), "r"));
        if (!file) {
            const int cause = errno;
            console << std::filesystem::path(kernelPath).filename().string() << " load failed\n" << std::flush;
            return "cannot open the kernel source \"" + kernelPath + "\": " + std::generic_category().message(cause);
        }
        std::fseek(file.get(), 0, SEEK_END);
        const long length = std::ftell(file.get());
        std::fseek(file.get(), 0, SEEK_SET);
        source.resize(length > 0 ? static_cast<size_t>(length) : 0);
        source.resize(std::fread(source.data(), 1, source.size(), file.get()));
        if (std::ferror(file.get())) {
            return "cannot read the kernel source \"" + kernelPath + "\": " + std::generic_category().message(errno);
        }
    }
    if (source.empty()) {
        return "the kernel source \"" + kernelPath + "\" is empty";
    }
    // The build options are part of the key, should the build ever be given any.
    constexpr const char* kBuildOptions = "";
    const std::string identity = deviceIdentity();
    std::string key = identity;
    key.append("\noptions ").append(kBuildOptions).append("\nsource ").append(source.data(), source.size());
    const ProgramCache cache(cacheFolder, identity, std::move(key));
    if (std::vector<unsigned char> binary; cache.load(binary) && programFromBinary(binary)) {
        fromCache = true;
        return {};
    }

    const char* text = source.data();
    const size_t textLength = source.size();
    program = clCreateProgramWithSource(context, 1, &text, &textLength, &status);
    if (status != CL_SUCCESS) return failure("clCreateProgramWithSource", status);
    status = clBuildProgram(program, 1, &device, kBuildOptions, nullptr, nullptr);
    if (status != CL_SUCCESS) {
        size_t logSize = 0;
        std::string said;
        if (clGetProgramBuildInfo(program, device, CL_PROGRAM_BUILD_LOG, 0, nullptr, &logSize) == CL_SUCCESS) {
            std::vector<char> log(logSize + 1, '\0');
            if (clGetProgramBuildInfo(program, device, CL_PROGRAM_BUILD_LOG, logSize, log.data(), nullptr) ==
                CL_SUCCESS) {
                console << log.data() << std::flush;
                said = excerpt(log.data());
            }
        }
        return "the kernel source \"" + kernelPath + "\" does not build (" + failure("clBuildProgram", status) +
                 ")" + (said.empty() ? "" : ": " + said);
    }
    cache.store(programBinary());  // a cache that cannot be written only costs the next run a build

    return {};
}

std::string ComputeDevice::Handles::deviceIdentity() const {
    std::string identity = "vanto kernel program";
    cl_platform_id platform = nullptr;
    clGetDeviceInfo(device, CL_DEVICE_PLATFORM, sizeof platform, &platform, nullptr);
    const auto add = [&](const char* label, cl_int status, const char* value) {
        identity.append("\n").append(label).append(" ").append(status == CL_SUCCESS ? value : "?");
    };
    char text[kNameBytes] = {};
    const struct {
        const char* label;
        cl_platform_info info;
    } platformFacts[] = {{"platform", CL_PLATFORM_NAME}, {"platform version", CL_PLATFORM_VERSION}};
    for (const auto& fact : platformFacts) {
        const cl_int status = clGetPlatformInfo(platform, fact.info, kNameBytes, text, nullptr);
        text[kNameBytes - 1] = '\0';
        add(fact.label, status, text);
    }
    const struct {
        const char* label;
        cl_device_info info;
    } deviceFacts[] = {{"device", CL_DEVICE_NAME},
                       {"vendor", CL_DEVICE_VENDOR},
                       {"device version", CL_DEVICE_VERSION},
                       {"driver version", CL_DRIVER_VERSION}};
    for (const auto& fact : deviceFacts) {
        const cl_int status = clGetDeviceInfo(device, fact.info, kNameBytes, text, nullptr);
        text[kNameBytes - 1] = '\0';
        add(fact.label, status, text);
    }
    return identity;
}

bool ComputeDevice::Handles::programFromBinary(const std::vector<unsigned char>& binary) {
    const unsigned char* bytes = binary.data();
    const size_t length = binary.size();
    cl_int binaryStatus = CL_SUCCESS;
    cl_int status = CL_SUCCESS;
    program = clCreateProgramWithBinary(context, 1, &device, &length, &bytes, &binaryStatus, &status);
    if (status == CL_SUCCESS && binaryStatus == CL_SUCCESS) {
        status = clBuildProgram(program, 1, &device, nullptr, nullptr, nullptr);
        // Both kernels must be there: an entry that builds but lacks one is not ours.
        for (const char* name : {"addone", "addtwo"}) {
            if (status != CL_SUCCESS) break;
            cl_kernel kernel = clCreateKernel(program, name, &status);
            if (kernel) clReleaseKernel(kernel);
        }
        if (status == CL_SUCCESS) return true;
    }
    if (program) clReleaseProgram(program);
    program = nullptr;
    return false;
}

std::vector<unsigned char> ComputeDevice::Handles::programBinary() const {
    size_t length = 0;
    if (clGetProgramInfo(program, CL_PROGRAM_BINARY_SIZES, sizeof length, &length, nullptr) != CL_SUCCESS ||
        length == 0) {
        return {};
    }
    std::vector<unsigned char> binary(length);
    unsigned char* target = binary.data();
    if (clGetProgramInfo(program, CL_PROGRAM_BINARIES, sizeof target, &target, nullptr) != CL_SUCCESS) return {};
    return binary;
}

std::string ComputeDevice::Handles::createKernels(int32_t width, int32_t height, const std::string& kernelPath) {
    cl_int status = CL_SUCCESS;
    const size_t planeBytes = sizeof(int32_t) * static_cast<size_t>(static_cast<int64_t>(width) * height);
    const struct {
        cl_mem_flags flags;
        size_t bytes;
    } layout[bufferCount] = {
        {CL_MEM_READ_ONLY, planeBytes},        {CL_MEM_READ_ONLY, planeBytes},
        {CL_MEM_WRITE_ONLY, planeBytes},       {CL_MEM_WRITE_ONLY, planeBytes},
        {CL_MEM_READ_ONLY, kCellTableBytes},   {CL_MEM_READ_ONLY, kOffsetTableBytes},
        {CL_MEM_READ_ONLY, kOffsetTableBytes},
    };
    // The group tables are sized once the group side is known, below.
    for (int b = 0; b < devGroupSpans; ++b) {
        buffers[b] = clCreateBuffer(context, layout[b].flags, layout[b].bytes, nullptr, &status);
        if (status != CL_SUCCESS) return failure(onBuffer("clCreateBuffer", b), status);
        bufferBytes[b] = layout[b].bytes;
    }
    if (!reach.reserve(width, height)) return "compute device: cannot reserve the tile tables of addtwo";
    const size_t tileBytes = sizeof(int32_t) * static_cast<size_t>(reach.tileCount());
    for (int b : {devFirstA, devFirstB}) {
        buffers[b] = clCreateBuffer(context, CL_MEM_READ_ONLY, tileBytes, nullptr, &status);
        if (status != CL_SUCCESS) return failure(onBuffer("clCreateBuffer", b), status);
        bufferBytes[b] = tileBytes;
    }

    const cl_int w = width;
    const cl_int ht = height;
    // A kernel missing from the source names the file it was looked for in.
    const auto failInSource = [&](const std::string& call, cl_int st) {
        return failure(call, st) + " in the kernel source \"" + kernelPath + "\"";
    };
    kernelAddOne = clCreateKernel(program, "addone", &status);
    if (status != CL_SUCCESS) return failInSource("clCreateKernel(addone)", status);
    const cl_mem* buf = buffers;
    status = clSetKernelArg(kernelAddOne, 0, sizeof(cl_mem), &buf[devOutA]);
    if (status == CL_SUCCESS) status = clSetKernelArg(kernelAddOne, 1, sizeof(cl_mem), &buf[devCellTable]);
    if (status == CL_SUCCESS) status = clSetKernelArg(kernelAddOne, 2, sizeof(cl_int), &w);
    if (status == CL_SUCCESS) status = clSetKernelArg(kernelAddOne, 3, sizeof(cl_int), &ht);
    if (status != CL_SUCCESS) return failInSource("clSetKernelArg(addone)", status);

    kernelAddTwo = clCreateKernel(program, "addtwo", &status);
    if (status != CL_SUCCESS) return failInSource("clCreateKernel(addtwo)", status);
    const Buffer addTwoBuffers[] = {devLabelsPrev, devLabelsCur, devOutA, devOutB, devOffsetDx, devOffsetDy};
    cl_uint arg = 0;
    for (Buffer b : addTwoBuffers) {
        status = clSetKernelArg(kernelAddTwo, arg++, sizeof(cl_mem), &buf[b]);
        if (status != CL_SUCCESS) break;
    }
    if (status == CL_SUCCESS) status = clSetKernelArg(kernelAddTwo, arg++, sizeof(cl_int), &w);
    if (status == CL_SUCCESS) status = clSetKernelArg(kernelAddTwo, arg++, sizeof(cl_int), &ht);
    if (status == CL_SUCCESS) status = clSetKernelArg(kernelAddTwo, arg++, sizeof(cl_mem), &buf[devFirstA]);
    if (status == CL_SUCCESS) status = clSetKernelArg(kernelAddTwo, arg++, sizeof(cl_mem), &buf[devFirstB]);
    const cl_int tileSide = LabelReach::kTileSide;
    const cl_int tilesAcross = reach.tilesAcross();
    if (status == CL_SUCCESS) status = clSetKernelArg(kernelAddTwo, arg++, sizeof(cl_int), &tileSide);
    if (status == CL_SUCCESS) status = clSetKernelArg(kernelAddTwo, arg++, sizeof(cl_int), &tilesAcross);
    if (status != CL_SUCCESS) return failInSource("clSetKernelArg(addtwo)", status);

    globalSize[0] = static_cast<size_t>(width);
    globalSize[1] = static_cast<size_t>(height);

    return {};
}

std::string ComputeDevice::Handles::sizeAddOneGroups(int32_t width, int32_t height, const std::string& kernelPath) {
    cl_int status = CL_SUCCESS;
    const cl_mem* buf = buffers;
    const auto failInSource = [&](const std::string& call, cl_int st) {
        return failure(call, st) + " in the kernel source \"" + kernelPath + "\"";
    };
    // The largest square of side 16, 8, 4, 2 or 1 that the device runs addone in.
    size_t groupLimit = 1;
    status = clGetKernelWorkGroupInfo(kernelAddOne, device, CL_KERNEL_WORK_GROUP_SIZE, sizeof groupLimit,
                                      &groupLimit, nullptr);
    if (status != CL_SUCCESS) return failure("clGetKernelWorkGroupInfo(addone)", status);
    size_t itemLimit[3] = {1, 1, 1};
    status = clGetDeviceInfo(device, CL_DEVICE_MAX_WORK_ITEM_SIZES, sizeof itemLimit, itemLimit, nullptr);
    if (status != CL_SUCCESS) return failure("clGetDeviceInfo(CL_DEVICE_MAX_WORK_ITEM_SIZES)", status);
    size_t side = kAddOneGroupSide;
    while (side > 1 && (side * side > groupLimit || side > itemLimit[0] || side > itemLimit[1])) side /= 2;
    for (int d = 0; d < 2; ++d) {
        addOneLocal[d] = side;
        addOneGlobal[d] = (globalSize[d] + side - 1) / side * side;
    }
    if (!candidates.reserve(width, height, static_cast<int32_t>(side))) {
        return "compute device: cannot reserve the candidate tables of addone";
    }
    const size_t groupTableBytes[] = {sizeof(int32_t) * candidates.spans().size(),
                                      sizeof(int32_t) * candidates.entries().size()};
    for (int b = devGroupSpans; b <= devGroupEntries; ++b) {
        buffers[b] = clCreateBuffer(context, CL_MEM_READ_ONLY, groupTableBytes[b - devGroupSpans], nullptr,
                                       &status);
        if (status != CL_SUCCESS) return failure(onBuffer("clCreateBuffer", b), status);
        bufferBytes[b] = groupTableBytes[b - devGroupSpans];
    }
    status = clSetKernelArg(kernelAddOne, 4, sizeof(cl_mem), &buf[devGroupSpans]);
    if (status == CL_SUCCESS) status = clSetKernelArg(kernelAddOne, 5, sizeof(cl_mem), &buf[devGroupEntries]);
    if (status != CL_SUCCESS) return failInSource("clSetKernelArg(addone)", status);
    return {};
}

ComputeDevice::ComputeDevice() = default;
ComputeDevice::~ComputeDevice() = default;

Status ComputeDevice::open(const std::string& kernelPath, int32_t width, int32_t height, std::ostream& console) {
    h_.reset();
    error_.clear();
    fromCache_ = false;
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide ||
        static_cast<int64_t>(width) * height > kMaxPixels) {
        error_ = "compute device: unsupported frame size " + std::to_string(width) + " x " + std::to_string(height);
        return Status::failure(StatusCode::deviceFailed, error_);
    }
    auto h = std::make_unique<Handles>();
    error_ = h->chooseDevice(console);
    if (error_.empty()) {
        error_ = h->buildProgram(kernelPath, cacheFolder_ ? *cacheFolder_ : ProgramCache::defaultFolder(), console,
                                 fromCache_);
    }
    if (error_.empty()) error_ = h->createKernels(width, height, kernelPath);
    if (error_.empty()) error_ = h->sizeAddOneGroups(width, height, kernelPath);
    if (!error_.empty()) return Status::failure(StatusCode::deviceFailed, error_);
    h_ = std::move(h);
    return {};
}

Status ComputeDevice::nearestLabelsAcrossFrames(const int32_t* prevLabels, const int32_t* curLabels,
                                              const NeighbourhoodTables& tables, int32_t* curNearPrev,
                                              int32_t* prevNearCur) {
    if (!h_) {
        error_ = "addtwo run on a compute device that is not open";
        return runFailure();
    }
    LabelReach& reach = h_->reach;
    if (h_->pruneAddTwo) {
        reach.build(prevLabels, curLabels, tables);
    } else {
        reach.clear();
    }
    const Transfer uploads[] = {{devLabelsPrev, prevLabels, nullptr},
                                {devLabelsCur, curLabels, nullptr},
                                {devOffsetDx, tables.offsetDx, nullptr},
                                {devOffsetDy, tables.offsetDy, nullptr},
                                {devFirstA, reach.startsA().data(), nullptr},
                                {devFirstB, reach.startsB().data(), nullptr}};
    const Transfer readBacks[] = {{devOutA, nullptr, curNearPrev}, {devOutB, nullptr, prevNearCur}};
    error_ = h_->run(h_->kernelAddTwo, h_->globalSize, nullptr, uploads, 6, readBacks, 2);
    if (!error_.empty()) error_ = "addtwo: " + error_;
    return error_.empty() ? Status{} : runFailure();
}

Status ComputeDevice::nearestCellMap(const int32_t* cellTable, int32_t* outNearest) {
    if (!h_) {
        error_ = "addone run on a compute device that is not open";
        return runFailure();
    }
    NearestCandidates& c = h_->candidates;
    c.build(cellTable);
    const cl_int siteCount = c.siteCount();
    const cl_int status = clSetKernelArg(h_->kernelAddOne, 6, sizeof(cl_int), &siteCount);
    if (status != CL_SUCCESS) {
        error_ = "addone: " + failure("clSetKernelArg", status);
        return runFailure();
    }
    // The lists in use only; none at all when every group's list is empty or every record.
    const Transfer uploads[] = {{devCellTable, cellTable, nullptr},
                                {devGroupSpans, c.spans().data(), nullptr},
                                {devGroupEntries, c.entries().data(), nullptr, sizeof(int32_t) * c.entryCount()}};
    const Transfer readBacks[] = {{devOutA, nullptr, outNearest}};
    error_ = h_->run(h_->kernelAddOne, h_->addOneGlobal, h_->addOneLocal, uploads, c.entryCount() > 0 ? 3 : 2,
                     readBacks, 1);
    if (!error_.empty()) error_ = "addone: " + error_;
    return error_.empty() ? Status{} : runFailure();
}

}  // namespace vanto

namespace vanto {

void ComputeDevice::setAddTwoPruning(bool on) {
    if (h_) h_->pruneAddTwo = on;
}

Status ComputeDevice::runFailure() const {
    return Status::failure(StatusCode::deviceFailed, "compute device failure: " + error_);
}

}  // namespace vanto
