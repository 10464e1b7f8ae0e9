// A host built with Microsoft's C++ ABI (clang --target=i686-pc-windows-msvc), as the real host
// is: it declares the host-facing classes with ordinary virtual destructors, loads the DLL with
// LoadLibraryA/GetProcAddress and runs a whole life, comparing every command, debug text and
// answer with the expected transcript. No C++ runtime: the few C functions come from msvcrt.
extern "C" {
typedef unsigned long DWORD;
typedef unsigned int size_t_;
__declspec(dllimport) void* __stdcall LoadLibraryA(const char* file);
__declspec(dllimport) void* __stdcall GetProcAddress(void* module, const char* name);
__declspec(dllimport) void __stdcall ExitProcess(unsigned code);
__declspec(dllimport) void* __stdcall AddVectoredExceptionHandler(unsigned long first,
                                                                  long(__stdcall* handler)(void*));
__declspec(dllimport) DWORD __stdcall GetLastError();
__declspec(dllimport) int __cdecl printf(const char* format, ...);
__declspec(dllimport) void* __cdecl malloc(size_t_ size);
__declspec(dllimport) void __cdecl free(void* p);
__declspec(dllimport) int __cdecl strcmp(const char* a, const char* b);
__declspec(dllimport) size_t_ __cdecl strlen(const char* s);
__declspec(dllimport) char* __cdecl strncpy(char* to, const char* from, size_t_ n);
__declspec(dllimport) int __cdecl fflush(void* stream);

// What the compiler expects of a runtime.
int _fltused = 0;
void __cdecl _purecall() {
    printf("pure virtual call\n");
    ExitProcess(3);
}
}
void operator delete(void* p) {
    free(p);
}
void operator delete(void* p, unsigned int) {
    free(p);
}

// The host's view of a component and of its own client object, as the host's source declares
// them.
class vorn_client_callback {
public:
    virtual ~vorn_client_callback() {}
    virtual char* dispatch(void* data, int type) = 0;
};

class HostClient {
public:
    virtual ~HostClient() {}
    virtual const char* send(const char* text, int mode) = 0;
};

struct HostDeviceRecord {
    int device, reserved, index, state;
};
struct HostButtonRecord {
    int reserved1, reserved2;
    const char* panel;
    const char* control;
};
typedef vorn_client_callback*(__cdecl* LoadFunction)(HostClient* host, const char* path);

namespace {

// The transcript: commands as sent, "debug: ..." and "answer: ..." in their place.
const int maxLines = 128;
char lines[maxLines][160];
int lineCount = 0;

void record(const char* prefix, const char* text, unsigned length) {
    if (lineCount == maxLines) return;
    char* line = lines[lineCount++];
    unsigned n = 0;
    for (const char* p = prefix; *p && n < 150; ++p)
        line[n++] = *p;
    for (unsigned i = 0; i < length && n < 159; ++i)
        line[n++] = text[i];
    line[n] = '\0';
}

// OutputDebugStringA raises DBG_PRINTEXCEPTION_C (0x40010006) with the length and the text.
struct ExceptionRecord {
    DWORD code, flags;
    ExceptionRecord* next;
    void* address;
    DWORD parameterCount;
    unsigned long information[15];
};
struct ExceptionPointers {
    ExceptionRecord* record;
    void* context;
};
long __stdcall catchDebugText(void* pointers) {
    ExceptionRecord* r = static_cast<ExceptionPointers*>(pointers)->record;
    if (r->code != 0x40010006 || r->parameterCount < 2) return 0; // continue search
    const char* text = reinterpret_cast<const char*>(r->information[1]);
    unsigned length = static_cast<unsigned>(r->information[0]);
    if (length > 0 && text[length - 1] == '\0') --length;
    record("debug: ", text, length);
    return -1; // continue execution
}

int repliesOut = 0, repliesBack = 0, problems = 0;
const char* outstanding = nullptr;

class Host : public HostClient {
public:
    const char* send(const char* text, int mode) override {
        if (mode == 5) {
            if (text != outstanding) {
                printf("FAIL a reply was handed back that the host did not give\n");
                ++problems;
                return nullptr;
            }
            free(const_cast<char*>(outstanding));
            outstanding = nullptr;
            ++repliesBack;
            return nullptr;
        }
        record("", text, strlen(text));
        if (strcmp(text, "SD 'A'") == 0 || strcmp(text, "SD 'B'") == 0) {
            const char* answer = text[4] == 'A' ? "12 3" : "20 7";
            char* reply = static_cast<char*>(malloc(8));
            strncpy(reply, answer, 8);
            outstanding = reply;
            ++repliesOut;
            return reply;
        }
        if (text[0] == 'P' && text[1] == 'S') return "OK";
        return nullptr;
    }
};
Host* host = nullptr; // the one of vorn_entry (a global object would need atexit)

void parent(vorn_client_callback* component, const char* text) {
    char* answer = component->dispatch(const_cast<char*>(text), 3);
    if (answer) {
        record("answer: ", answer, strlen(answer));
        component->dispatch(answer, 5);
    } else {
        record("answer: ", "(none)", 6);
    }
}

const char* const contactTileLife[] = {
    "ET 1 10000",
    "PS '1' 'C:\\panels/myButton.vorn_ui'",
    ("answer: useButton=true\nsendGPI=true\nuseText=false\nbuttonText=\nstateSheet=\n"
     "offState=\nonState="),
    "answer: GPIvalue=*",
    "answer: (none)",
    "answer: (none)",
    "debug: Instance change code called - Instance=A\n",
    "SD 'A'",
    "GR 12 3 3",
    "GP 12 3 3",
    "TP 'text=' '1' 'MyContact_Tile'",
    "answer: (none)",
    "TP 'statesheet=green' '1' 'MyContact_Tile'",
    "HN 'GPIvalue=1'",
    "GS 12 3 0 1",
    "TP 'statesheet=red' '1' 'MyContact_Tile'",
    "HN 'GPIvalue=0'",
    "GP 12 3 3",
    "ET 7",
    "debug: Instance change code called - Instance=Gone\n",
    "GU 12",
    "SD 'Gone'",
    "debug: No valid device or contact\n",
    "answer: (none)",
    "debug: Instance change code called - Instance=B\n",
    "GU 12",
    "SD 'B'",
    "GR 20 7 7",
    "GP 20 7 7",
    "TP 'text=' '1' 'MyContact_Tile'",
    "answer: (none)",
    "answer: useText=false",
    "GU 20",
    "ET 1",
    "AS",
};


const char* const tallyLampLife[] = {
    "ET 1 5000",
    "PS '1' 'C:\\panels/myTally.vorn_ui'",
    ("answer: programLook=background: red\npreviewLook=background: green\n"
     "idleLook=background: #404040\ntally=unknown"),
    "answer: TALLY=*",
    "answer: programLook=[value]\npreviewLook=[value]\nidleLook=[value]",
    "answer: (none)",
    "debug: Instance change code called - Instance=A\n",
    "SD 'A'",
    "GR 12 3 4",
    "GP 12 3 4",
    "TP 'text=A' '1' 'MyTally_Lamp'",
    "answer: (none)",
    "TP 'statesheet=background: green' '1' 'MyTally_Lamp'",
    "HN 'TALLY=preview'",
    "TP 'statesheet=yellow' '1' 'MyTally_Lamp'",
    "HN 'TALLY=program'",
    "GP 12 3 4",
    "answer: tally=program",
    "GU 12",
    "ET 1",
    "AS",
};

// Drives one component of a DLL through a life; the transcript is compared afterwards.
vorn_client_callback* load(const char* file) {
    void* library = LoadLibraryA(file);
    if (!library) {
        printf("FAIL %s: cannot load (error %lu)\n", file, GetLastError());
        ExitProcess(2);
    }
    LoadFunction make =
        reinterpret_cast<LoadFunction>(GetProcAddress(library, "load_vorn_client_script"));
    if (!make) {
        printf("FAIL %s does not export load_vorn_client_script\n", file);
        ExitProcess(2);
    }
    return make(host, "C:\\panels");
}

void liveContactTile() {
    vorn_client_callback* tile = load("Contact_Tile.dll");
    parent(tile, "return=all");
    parent(tile, "_events");
    parent(tile, "onState=green");
    parent(tile, "offState=red");
    parent(tile, "instance=A");
    HostDeviceRecord on = {12, 0, 3, 1};
    tile->dispatch(&on, 1);
    HostButtonRecord press = {0, 0, "1", "MyContact_Tile"};
    tile->dispatch(&press, 2);
    HostDeviceRecord off = {12, 0, 3, 0};
    tile->dispatch(&off, 1);
    HostDeviceRecord other = {12, 0, 4, 1};
    tile->dispatch(&other, 1);
    tile->dispatch(reinterpret_cast<void*>(1), 4);
    tile->dispatch(reinterpret_cast<void*>(7), 4);
    int opaque[8] = {0};
    for (int type = -1; type <= 9; ++type)
        if (type == 0 || type == 6 || type == 7 || type == 8 || type == 9 || type == -1)
            if (tile->dispatch(opaque, type) != nullptr) {
                printf("FAIL message type %d returned a buffer\n", type);
                ++problems;
            }
    tile->dispatch(nullptr, 5);
    parent(tile, "instance=Gone");
    parent(tile, "instance=B");
    parent(tile, "return=useText");
    delete tile; // slot 0: the scalar deleting destructor
}

void liveTallyLamp() {
    vorn_client_callback* lamp = load("Tally_Lamp.dll");
    parent(lamp, "return=all");
    parent(lamp, "_events");
    parent(lamp, "_commands");
    parent(lamp, "programLook=yellow");
    parent(lamp, "instance=A");
    HostDeviceRecord preview = {12, 0, 4, 1};
    lamp->dispatch(&preview, 1);
    HostDeviceRecord program = {12, 0, 3, 1};
    lamp->dispatch(&program, 1);
    HostButtonRecord press = {0, 0, "1", "MyTally_Lamp"};
    lamp->dispatch(&press, 2);
    lamp->dispatch(reinterpret_cast<void*>(1), 4);
    lamp->dispatch(reinterpret_cast<void*>(7), 4);
    parent(lamp, "return=tally");
    delete lamp;
}

struct Life {
    const char* name;
    void (*live)();
    const char* const* expected;
    int expectedCount;
};
const Life lives[] = {
    {"Contact_Tile", liveContactTile, contactTileLife,
     static_cast<int>(sizeof contactTileLife / sizeof *contactTileLife)},
    {"Tally_Lamp", liveTallyLamp, tallyLampLife,
     static_cast<int>(sizeof tallyLampLife / sizeof *tallyLampLife)},
};

} // namespace

extern "C" int vorn_entry() {
    AddVectoredExceptionHandler(1, catchDebugText);
    Host theHost;
    host = &theHost;
    int failedLives = 0;
    for (const Life& life : lives) {
        const int problemsBefore = problems;
        lineCount = 0;
        life.live();
        for (int i = 0; i < lineCount || i < life.expectedCount; ++i) {
            const char* want = i < life.expectedCount ? life.expected[i] : "(nothing)";
            const char* got = i < lineCount ? lines[i] : "(nothing)";
            if (strcmp(want, got) != 0) {
                printf("FAIL %s line %d\n  expected: %s\n  actual:   %s\n", life.name, i + 1,
                       want, got);
                ++problems;
            }
        }
        printf("%s: %d lines compared\n", life.name, lineCount);
        if (problems != problemsBefore) ++failedLives;
    }
    if (repliesOut != repliesBack) {
        printf("FAIL %d replies given, %d handed back\n", repliesOut, repliesBack);
        ++problems;
    }
    const int count = static_cast<int>(sizeof lives / sizeof *lives);
    printf("%d replies handed back\n", repliesBack);
    printf("%d passed, %d failed\n", problems == 0 ? count : count - failedLives,
           problems == 0 ? 0 : (failedLives > 0 ? failedLives : 1));
    fflush(nullptr);
    ExitProcess(problems == 0 ? 0 : 1);
    return 0;
}
