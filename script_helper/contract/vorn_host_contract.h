// The contract between the host panel client and a script component: everything that crosses
// the library boundary, and nothing else. The host sees a component only through this header
// and the library file; a component sees the host only through it.
//
// Threads. The host calls the export, dispatch and the destructor from its own thread, one call
// at a time. A component calls HostClient::send only from inside one of those calls, and the
// host never calls back into the component from inside send: nothing here is re-entered, and
// nothing needs a lock.
//
// Ownership. Whoever allocates frees:
//   - the host owns the component from the moment the export returns it until it deletes it
//     through slot 0; it owns its client object, which outlives every component it created;
//   - what the host passes to dispatch is borrowed for that call only;
//   - an answer buffer that dispatch returns is the component's until the host hands it back
//     with message type 5, exactly once; the host never frees it itself;
//   - a reply that send returns to "SD" is the host's: the component may read it until it hands
//     it back with send(reply, VORN_SEND_RELEASE), exactly once, before the call into the
//     component that got it returns, and keeps no pointer into it after;
//   - the result of "PS" only tells whether the panel was shown (null: it was not); it is the
//     host's own text, never handed back. Every other command's result is null.
//
// Binary layout. The real host is a 32-bit Windows program built with Microsoft's compiler. Its
// ABI gives a virtual destructor ONE vtable slot: the "scalar deleting destructor", a __thiscall
// function taking one unsigned flags argument (bit 0 set: free the memory after destroying).
// The Itanium C++ ABI that GCC and clang use for MinGW gives it two, which would move dispatch
// and send to slot 2, where the host would call the destructor instead. So on a Windows build
// whose compiler is not Microsoft's (clang-cl defines _MSC_VER and needs nothing), the
// interfaces declare that one-slot destructor themselves (VORN_HOST_DESTRUCTOR) and member
// calls are __thiscall. Everywhere else the native layout is kept: an ordinary virtual
// destructor. A 64-bit Windows build is refused: that layout has never been tried against a
// host.
//
// Code outside this header does not care: it ends an object of the host interface with
// vorn_abi_delete(), and the first class that implements an interface adds
// VORN_HOST_DESTRUCTOR_BRIDGE and declares "virtual ~Class()".
#pragma once

// C headers only: the contract compiles for any target, without a C++ library.
#include <stddef.h>
#include <stdint.h>

#if defined(_WIN64)
#error "64-bit Windows builds are not supported: the host is a 32-bit program"
#endif

#if defined(_WIN32) && !defined(_MSC_VER)
#define VORN_MSVC_LAYOUT 1
#else
#define VORN_MSVC_LAYOUT 0
#endif

#if VORN_MSVC_LAYOUT && defined(__i386__)
#define VORN_THISCALL __attribute__((thiscall))
#else
#define VORN_THISCALL
#endif

#if VORN_MSVC_LAYOUT
// Slot 0 of an interface: the scalar deleting destructor. The interface's own destructor is not
// virtual and not public: an object is ended through the slot.
#define VORN_HOST_DESTRUCTOR(Class)                                                                \
public:                                                                                            \
    virtual void VORN_THISCALL vorn_deleting_destructor(unsigned flags) = 0;                       \
                                                                                                   \
protected:                                                                                         \
    ~Class() = default;                                                                            \
                                                                                                   \
public:
// In the first class that implements the interface, which declares a virtual destructor of its
// own (laid out behind the interface's slots, where the host never looks): slot 0 runs that
// destructor and frees the memory when bit 0 of the flags asks for it.
#define VORN_HOST_DESTRUCTOR_BRIDGE(Class)                                                         \
public:                                                                                            \
    void VORN_THISCALL vorn_deleting_destructor(unsigned flags) override {                         \
        if (flags & 1u)                                                                            \
            delete this;                                                                           \
        else                                                                                       \
            this->~Class();                                                                        \
    }
#define VORN_ABI_DELETE(object) ((object)->vorn_deleting_destructor(1u))
#else
#define VORN_HOST_DESTRUCTOR(Class)                                                                \
public:                                                                                            \
    virtual ~Class() = default;
#define VORN_HOST_DESTRUCTOR_BRIDGE(Class)
#define VORN_ABI_DELETE(object) (delete (object))
#endif

// Message types of dispatch: what the data argument carries.
enum vorn_message_type : int {
    VORN_MSG_DEVICE_REPORT = 1, // const HostDeviceRecord*, borrowed for the call
    VORN_MSG_BUTTON = 2,        // const HostButtonRecord*, borrowed for the call
    VORN_MSG_PARENT = 3,        // NUL-terminated parent-command text, borrowed for the call
    VORN_MSG_TIMER = 4,         // the timer id itself, as a pointer-sized integer
    VORN_MSG_RELEASE = 5,       // an answer buffer returned earlier for type 3, handed back
    VORN_MSG_6 = 6,             // host data not read by the frame, borrowed for the call
    VORN_MSG_7 = 7,             // host data not read by the frame, borrowed for the call
};

// Modes of HostClient::send.
enum vorn_send_mode : int {
    VORN_SEND_COMMAND = 0, // text is a command; the result is the reply to "SD", or "PS"'s
                           // indication, or null
    VORN_SEND_RELEASE = 5, // text is a reply that send returned earlier, handed back; result null
};

// The component, as the host holds it.
class vorn_client_callback {
    // Slot 0, the destructor: the host's last call. The component sends its teardown commands
    // ("AS" last) from inside it; nothing is called on the object afterwards.
    VORN_HOST_DESTRUCTOR(vorn_client_callback)
    // Slot 1: delivers one message (vorn_message_type). The data is borrowed for the call and
    // not kept. For type 3 the result is a new answer buffer (NUL-terminated) or null; the
    // component owns it until the host hands it back with type 5, exactly once, and every
    // non-null answer is a fresh buffer. For every other type the result is null. Unknown
    // types are ignored.
    virtual char* VORN_THISCALL dispatch(void* data, int type) = 0;
};

// The host's client object, as the component holds it: not owned, never deleted by the
// component, alive for the component's whole life.
class HostClient {
    // Slot 0: its destructor; never called by a component.
    VORN_HOST_DESTRUCTOR(HostClient)
    // Slot 1. Mode 0: text is a NUL-terminated ASCII command, borrowed for the call; the result
    // is the host's reply to "SD" (owned by the host, valid until handed back, handed back with
    // mode 5 exactly once), the indication of "PS" (never handed back), or null. Mode 5: hands
    // an "SD" reply back; result null.
    virtual const char* VORN_THISCALL send(const char* text, int mode) = 0;
};

// Message type 1: a device report. Owned by the host, borrowed for one dispatch call.
struct HostDeviceRecord {
    int32_t device;   // the reporting device
    int32_t reserved; // not read
    int32_t index;    // the contact on that device
    int32_t state;    // 0 off, anything else on
};

// Message type 2: a button event. Owned by the host, borrowed for one dispatch call, texts
// included. Further fields may follow; none is read.
struct HostButtonRecord {
    int32_t reserved1;   // not read
    int32_t reserved2;   // not read
    const char* panel;   // panel id as text, "1" for panel 1
    const char* control; // id of the pressed control
};

// The records as the host lays them out: on its 32-bit target every field is 4 bytes and they
// follow one another without gaps; elsewhere the texts are pointer-sized.
static_assert(sizeof(HostDeviceRecord) == 16, "HostDeviceRecord: four 32-bit fields");
static_assert(offsetof(HostDeviceRecord, device) == 0 &&
                  offsetof(HostDeviceRecord, reserved) == 4 &&
                  offsetof(HostDeviceRecord, index) == 8 && offsetof(HostDeviceRecord, state) == 12,
              "HostDeviceRecord: no gaps");
static_assert(offsetof(HostButtonRecord, reserved1) == 0 &&
                  offsetof(HostButtonRecord, reserved2) == 4 &&
                  offsetof(HostButtonRecord, panel) == 8 &&
                  offsetof(HostButtonRecord, control) == 8 + sizeof(void*) &&
                  sizeof(HostButtonRecord) == 8 + 2 * sizeof(void*),
              "HostButtonRecord: two 32-bit fields, then two text pointers, no gaps");
#if defined(_WIN32) || defined(__i386__)
static_assert(sizeof(void*) == 4 && sizeof(HostButtonRecord) == 16,
              "HostButtonRecord: 16 bytes on the host's 32-bit target");
#endif
// Type 4 passes the timer id in place of the data pointer.
static_assert(sizeof(intptr_t) == sizeof(void*), "a timer id travels as a pointer");

// The library's one export, looked up by this plain name: creates a new, independent component
// for the given host (may be null: then no command is ever sent) and folder of the panel files
// (borrowed for the call), or returns null when it cannot. Nothing is thrown into the host.
typedef vorn_client_callback* (*vorn_load_function)(HostClient* host, const char* path);
#define VORN_LOAD_FUNCTION_NAME "load_vorn_client_script"

#if defined(_WIN32)
#define VORN_EXPORT extern "C" __declspec(dllexport)
#else
#define VORN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// Ends an object of a host interface the way the host does: through slot 0.
template <class T> inline void vorn_abi_delete(T* object) {
    if (object) VORN_ABI_DELETE(object);
}
