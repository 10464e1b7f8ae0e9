// The binary interface between the host and a script component.
//
// The host calls two virtual slots of the component: slot 0, the destructor, and slot 1,
// dispatch; the component calls slot 1 of the host's client object, send. The real host is a
// 32-bit Windows program built with Microsoft's compiler, whose ABI gives a virtual destructor
// ONE vtable slot: the "scalar deleting destructor", a __thiscall function taking one unsigned
// flags argument (bit 0 set: free the memory after destroying). GCC's ABI gives it two slots,
// which would move dispatch/send to slot 2. So on a GCC build for Windows the interfaces declare
// that one-slot destructor themselves (VORN_HOST_DESTRUCTOR) and member calls are __thiscall.
// Everywhere else the native layout is kept: an ordinary virtual destructor.
//
// Code outside this header does not care: it ends an object of the host interface with
// vorn_abi_delete(), and the first class that implements an interface adds
// VORN_HOST_DESTRUCTOR_BRIDGE and declares "virtual ~Class()".
#pragma once

#if defined(_WIN32) && defined(__GNUC__) && !defined(__clang__) && !defined(_M_X64) &&             \
    !defined(__x86_64__)
#define VORN_MSVC_LAYOUT 1
#define VORN_THISCALL __attribute__((thiscall))
#else
#define VORN_MSVC_LAYOUT 0
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
// own (GCC lays it out behind the interface's slots, where the host never looks): slot 0 runs
// that destructor and frees the memory when bit 0 of the flags asks for it.
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

#if defined(_WIN32)
#define VORN_EXPORT extern "C" __declspec(dllexport)
#else
#define VORN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// Ends an object of a host interface the way the host does: through slot 0.
template <class T> inline void vorn_abi_delete(T* object) {
    if (object) VORN_ABI_DELETE(object);
}
