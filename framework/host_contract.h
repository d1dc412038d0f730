// The binary contract between the host application and a block plug-in.
//
// Everything in this header crosses the process boundary between the host's
// code and the plug-in's: its layout, its codes and its calling convention are
// fixed by the host and must not change.
#pragma once

#include <cstddef>
#include <cstdint>

// Calling convention of every function that crosses the host boundary: the
// plug-in's entry point and the host services it calls. On 32-bit Windows the
// host uses the C convention (caller pops, arguments right to left); other
// targets have a single C convention.
#if defined(_WIN32) && !defined(_WIN64)
#define VEXB_CALL __cdecl
#else
#define VEXB_CALL
#endif

// Visibility of the entry point: the only symbol a plug-in exports.
#if defined(_WIN32)
#define VEXB_EXPORT __declspec(dllexport)
#else
#define VEXB_EXPORT __attribute__((visibility("default")))
#endif

// How a host program exports a service by name from its executable: test
// hosts, tools and the fuzzer stand in for the host application this way. On
// ELF the program must also be linked with its symbols exported (-rdynamic).
#if defined(_WIN32)
#define VEXB_HOST_SERVICE extern "C" __declspec(dllexport)
#else
#define VEXB_HOST_SERVICE extern "C" __attribute__((visibility("default"), used))
#endif

namespace vexb {

// The host's per-block record. The host owns it for as long as the block
// exists and may make it longer than declared here; a plug-in touches only the
// three fields below and never copies the record.
struct BlockRecord {
  // Start of the block's VariableStorage. Written by the host, which may move
  // the storage between calls; the plug-in reads it afresh at every Calculate.
  unsigned char* StorageBase;
  // The block's BlockInstance, owned by the plug-in. Written by Init (new
  // instance, or null when memory ran out), by Calculate (the same instance)
  // and by Cleanup (null after release). What a fresh record holds here is
  // undefined: Init overwrites it without looking.
  void* InstanceSlot;
  // Host bytes the plug-in never reads or writes.
  unsigned char HostReserved[23 - 2 * sizeof(void*)];
  // Revision-2 plug-ins set bit 0 at Init and leave the other bits alone.
  std::uint8_t FlagByte;
};

static_assert(offsetof(BlockRecord, StorageBase) == 0);
static_assert(offsetof(BlockRecord, InstanceSlot) == sizeof(void*));
static_assert(offsetof(BlockRecord, FlagByte) == 23);
static_assert(sizeof(void*) != 4 || offsetof(BlockRecord, InstanceSlot) == 4,
              "32-bit hosts place InstanceSlot at offset 4");

// The first argument of the entry point. Compared as unsigned: any value not
// listed here (3, 5 and above, negative numbers) does nothing and answers Done.
enum CallMode : std::uint32_t {
  kInit = 0,            // create the block's BlockInstance
  kCleanup = 1,         // destroy it
  kCalculate = 2,       // bind it to the block's storage and run the model
  kCheckVariables = 4,  // compare the host's StructureSignature text
};

// The entry point's result; no other value is ever returned.
enum CallResult : std::int32_t {
  kDone = 0,          // every call but a failed comparison
  kBadVariables = 2,  // CheckVariables: the block does not fit this plug-in
};

// The host's floating-point environment is the caller's: the plug-in starts no
// thread and takes no lock. Calls for different records may come from
// different threads at once; the host never makes two calls for the same
// record at the same time.
using EntryPointFn = std::int32_t(VEXB_CALL*)(std::uint32_t mode,
                                              BlockRecord* record, void* extra);

// Host services that a plug-in calls. Both results are ignored.
// Called once at load, with the address of the plug-in's HugeValue, when the
// host exports every service of the plug-in's list.
using GetHugeDoubleFn = void(VEXB_CALL*)(double* value);
// Called once at load, when some service is missing and this one is exported.
using IncompatibleDllFn = void(VEXB_CALL*)();

}  // namespace vexb

// The plug-in's only export.
//  mode   CallMode; compared as unsigned.
//  record the block's record; may be null, in which case only CheckVariables
//         does any work.
//  extra  CheckVariables: NUL-terminated ASCII StructureSignature text, or
//         null. Calculate: handed to the model untouched. Otherwise ignored.
// Answers kDone or kBadVariables; raises nothing and shows nothing.
extern "C" VEXB_EXPORT std::int32_t VEXB_CALL vexbcppBlockEntryPoint(
    std::uint32_t mode, vexb::BlockRecord* record, void* extra);
