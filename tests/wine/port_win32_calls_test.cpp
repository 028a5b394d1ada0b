// The KERNEL32 calls of the Win32 serial layer, observed where they leave
// the program: the test replaces entries of this program's import table with
// recorders that note the arguments and then call the real function (or, for
// the failure paths, fail as the system would). Neither Windows nor Wine
// reports every DCB field back through GetCommState, so this is the one place
// where the line configuration is seen exactly as it is handed to the system.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <string>
#include <vector>

#include "serial/port.h"

namespace {

// Replaces this program's import-table slot of a KERNEL32 function with
// `replacement` for its lifetime. Every call the program makes to the
// function goes through that slot; original() is the real function.
class ImportSlot {
 public:
  ImportSlot(const char *function, void *replacement) {
    BYTE *base = reinterpret_cast<BYTE *>(GetModuleHandleA(nullptr));
    auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(base);
    auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto *module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + imports.VirtualAddress);
    for (; module->Name != 0 && slot_ == nullptr; ++module) {
      if (_stricmp(reinterpret_cast<const char *>(base + module->Name), "KERNEL32.dll") != 0) continue;
      auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + module->OriginalFirstThunk);
      auto *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + module->FirstThunk);
      for (; names->u1.AddressOfData != 0; ++names, ++slots) {
        if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
        auto *byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
        if (strcmp(reinterpret_cast<const char *>(byName->Name), function) == 0) {
          slot_ = reinterpret_cast<void **>(&slots->u1.Function);
          break;
        }
      }
    }
    if (slot_ != nullptr) {
      original_ = *slot_;
      Store(replacement);
    }
  }
  ~ImportSlot() {
    if (slot_ != nullptr) Store(original_);
  }
  ImportSlot(const ImportSlot &) = delete;
  ImportSlot &operator=(const ImportSlot &) = delete;
  bool found() const { return slot_ != nullptr; }
  void *original() const { return original_; }

 private:
  void Store(void *value) {
    DWORD previous = 0;
    VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &previous);
    *slot_ = value;
    VirtualProtect(slot_, sizeof *slot_, previous, &previous);
  }
  void **slot_ = nullptr;
  void *original_ = nullptr;
};

template <typename Function>
void *Address(Function *function) {
  return reinterpret_cast<void *>(function);
}

// ---- what the recorders saw -----------------------------------------------------

struct CreateCall {
  std::string name;
  DWORD access, share, disposition, flags;
  bool security, templateFile;
  HANDLE result;
};

struct Record {
  std::vector<std::string> calls;  // function names, in order
  std::vector<CreateCall> creates;
  DCB stateRead;                   // what GetCommState reported
  DCB stateWritten;                // what SetCommState was given
  COMMTIMEOUTS timeoutsWritten;    // the last SetCommTimeouts
  DWORD inQueue = 0, outQueue = 0;
  std::vector<HANDLE> closed;
  const char *failing = nullptr;   // the function that fails, if any
};
Record g_record;

// The real functions, from the slots while they are replaced.
decltype(&CreateFileA) g_createFileA;
decltype(&GetCommState) g_getCommState;
decltype(&SetCommState) g_setCommState;
decltype(&SetCommTimeouts) g_setCommTimeouts;
decltype(&SetupComm) g_setupComm;
decltype(&CloseHandle) g_closeHandle;

template <typename Function>
void Take(Function *&real, const ImportSlot &slot) {
  real = reinterpret_cast<Function *>(slot.original());
}

bool Fails(const char *function) {
  g_record.calls.push_back(function);
  if (g_record.failing != nullptr && strcmp(g_record.failing, function) == 0) {
    SetLastError(ERROR_GEN_FAILURE);
    return true;
  }
  return false;
}

HANDLE WINAPI RecordCreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                DWORD disposition, DWORD flags, HANDLE templateFile) {
  g_record.calls.push_back("CreateFileA");
  HANDLE result = g_createFileA(name, access, share, security, disposition, flags, templateFile);
  g_record.creates.push_back(
      CreateCall{name, access, share, disposition, flags, security != nullptr, templateFile != nullptr, result});
  return result;
}

BOOL WINAPI RecordGetCommState(HANDLE file, LPDCB dcb) {
  if (Fails("GetCommState")) return FALSE;
  BOOL ok = g_getCommState(file, dcb);
  g_record.stateRead = *dcb;
  return ok;
}

BOOL WINAPI RecordSetCommState(HANDLE file, LPDCB dcb) {
  g_record.stateWritten = *dcb;
  if (Fails("SetCommState")) return FALSE;
  return g_setCommState(file, dcb);
}

BOOL WINAPI RecordSetCommTimeouts(HANDLE file, LPCOMMTIMEOUTS timeouts) {
  g_record.timeoutsWritten = *timeouts;
  if (Fails("SetCommTimeouts")) return FALSE;
  return g_setCommTimeouts(file, timeouts);
}

BOOL WINAPI RecordSetupComm(HANDLE file, DWORD inQueue, DWORD outQueue) {
  g_record.calls.push_back("SetupComm");
  g_record.inQueue = inQueue;
  g_record.outQueue = outQueue;
  return g_setupComm(file, inQueue, outQueue);
}

BOOL WINAPI RecordCloseHandle(HANDLE object) {
  g_record.calls.push_back("CloseHandle");
  g_record.closed.push_back(object);
  return g_closeHandle(object);
}

// Records the serial layer's calls for its lifetime.
class Kernel32Recorder : public ::testing::Test {
 protected:
  void SetUp() override {
    g_record = Record{};
    for (const ImportSlot &slot : slots_) {
      ASSERT_TRUE(slot.found()) << "a KERNEL32 import of the serial layer is not in the import table";
    }
    Take(g_createFileA, slots_[0]);
    Take(g_getCommState, slots_[1]);
    Take(g_setCommState, slots_[2]);
    Take(g_setCommTimeouts, slots_[3]);
    Take(g_setupComm, slots_[4]);
    Take(g_closeHandle, slots_[5]);
  }
  void TearDown() override { g_record = Record{}; }

  static std::string ComPort() {
    const char *name = getenv("ZAMKT_WINE_COM");
    return name != nullptr ? name : "";
  }

  ImportSlot slots_[6] = {
      {"CreateFileA", Address(&RecordCreateFileA)},
      {"GetCommState", Address(&RecordGetCommState)},
      {"SetCommState", Address(&RecordSetCommState)},
      {"SetCommTimeouts", Address(&RecordSetCommTimeouts)},
      {"SetupComm", Address(&RecordSetupComm)},
      {"CloseHandle", Address(&RecordCloseHandle)},
  };
};

#define SKIP_WITHOUT_COM_PORT()                                                                          \
  if (ComPort().empty()) {                                                                               \
    GTEST_SKIP() << "no COM port with a device: set ZAMKT_WINE_COM to a port served by n2sim "          \
                    "(tests/wine/run.sh links COM5 to one)";                                             \
  }

// ---- device names -----------------------------------------------------------------

struct NameCase {
  const char *given;
  const char *opened;
};

TEST_F(Kernel32Recorder, OnlyComPortsNumberedTenAndAboveGetTheDeviceNamespacePrefix) {
  const PortSettings settings = {9600, 8, 0, 0};
  const NameCase cases[] = {
      {"COM10", "\\\\.\\COM10"},   {"COM255", "\\\\.\\COM255"}, {"com12", "\\\\.\\com12"},
      {"Com010", "\\\\.\\Com010"}, {"COM1", "COM1"},            {"COM9", "COM9"},
      {"COM09", "COM09"},          {"COM", "COM"},              {"COM1X", "COM1X"},
      {"COM12A", "COM12A"},        {"LPT12", "LPT12"},          {"\\\\.\\COM12", "\\\\.\\COM12"},
      {"NUL", "NUL"},              {"AUX10", "AUX10"},          {"XCOM12", "XCOM12"},
  };
  for (const NameCase &c : cases) {
    g_record.creates.clear();
    PortHandle handle = nullptr;
    (void)PortOpen(c.given, &settings, kLineOptionsDefault, &handle);
    if (handle != nullptr) PortClose(handle);
    ASSERT_EQ(g_record.creates.size(), 1u) << c.given;
    EXPECT_EQ(g_record.creates[0].name, c.opened) << c.given;
  }
}

// ---- the open ------------------------------------------------------------------------

TEST_F(Kernel32Recorder, TheNullDeviceIsOpenedAndNothingElse) {
  const PortSettings settings = {9600, 8, 0, 0};
  PortHandle handle = nullptr;
  ASSERT_EQ(PortOpen("NUL", &settings, kLineOptionsDefault, &handle), kPortOk);
  EXPECT_EQ(g_record.calls, std::vector<std::string>{"CreateFileA"});
  PortClose(handle);
}

TEST_F(Kernel32Recorder, OpenConfiguresThePortExactlyInTheLayersOrder) {
  SKIP_WITHOUT_COM_PORT();
  // 19200 baud, 7 data bits, even parity, two stop bits; the high bytes of
  // the fields are not part of the setting.
  const PortSettings settings = {19200, 0x0107, 0x0102, 0x0202};
  PortHandle handle = nullptr;
  ASSERT_EQ(PortOpen(ComPort().c_str(), &settings, kLineOptionsDefault, &handle), kPortOk);

  EXPECT_EQ(g_record.calls,
            (std::vector<std::string>{"CreateFileA", "GetCommState", "SetCommTimeouts", "SetCommState", "SetupComm"}));

  // Read and write, no sharing, the device must exist, synchronous I/O.
  ASSERT_EQ(g_record.creates.size(), 1u);
  const CreateCall &create = g_record.creates[0];
  EXPECT_EQ(create.access, static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE));
  EXPECT_EQ(create.share, 0u);
  EXPECT_EQ(create.disposition, static_cast<DWORD>(OPEN_EXISTING));
  EXPECT_EQ(create.flags, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));  // no FILE_FLAG_OVERLAPPED
  EXPECT_FALSE(create.security);
  EXPECT_FALSE(create.templateFile);
  EXPECT_EQ(create.result, handle);

  const COMMTIMEOUTS &t = g_record.timeoutsWritten;
  EXPECT_EQ(t.ReadIntervalTimeout, 0u);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 1000u);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 0u);

  const DCB &dcb = g_record.stateWritten;
  EXPECT_EQ(dcb.BaudRate, 19200u);
  EXPECT_EQ(dcb.fBinary, 1u);
  EXPECT_EQ(dcb.fParity, 1u);
  EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
  EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
  EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
  EXPECT_EQ(dcb.fDsrSensitivity, 0u);
  EXPECT_EQ(dcb.fOutX, 0u);
  EXPECT_EQ(dcb.fInX, 0u);
  EXPECT_EQ(dcb.fErrorChar, 0u);
  EXPECT_EQ(dcb.fNull, 0u);
  EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
  EXPECT_EQ(dcb.fAbortOnError, 0u);
  EXPECT_EQ(dcb.ByteSize, 7);
  EXPECT_EQ(dcb.Parity, EVENPARITY);
  EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);

  // Every other field keeps what the device reported.
  const DCB &read = g_record.stateRead;
  EXPECT_EQ(dcb.DCBlength, read.DCBlength);
  EXPECT_EQ(dcb.fTXContinueOnXoff, read.fTXContinueOnXoff);
  EXPECT_EQ(dcb.XonLim, read.XonLim);
  EXPECT_EQ(dcb.XoffLim, read.XoffLim);
  EXPECT_EQ(dcb.XonChar, read.XonChar);
  EXPECT_EQ(dcb.XoffChar, read.XoffChar);
  EXPECT_EQ(dcb.ErrorChar, read.ErrorChar);
  EXPECT_EQ(dcb.EofChar, read.EofChar);
  EXPECT_EQ(dcb.EvtChar, read.EvtChar);

  EXPECT_EQ(g_record.inQueue, 1200u);
  EXPECT_EQ(g_record.outQueue, 1200u);
  EXPECT_EQ(PortClose(handle), kPortOk);
}

struct LineCase {
  uint16_t options;
  DWORD dtr;
  DWORD rts;
};

TEST_F(Kernel32Recorder, LineOptionsChooseTheDtrAndRtsControl) {
  SKIP_WITHOUT_COM_PORT();
  const PortSettings settings = {9600, 8, 0, 0};
  const LineCase cases[] = {
      {kLineOptionsDefault, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE},
      {0, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE},
      {kDtrOn, DTR_CONTROL_ENABLE, RTS_CONTROL_DISABLE},
      {kDtrOnAlt, DTR_CONTROL_ENABLE, RTS_CONTROL_DISABLE},
      {kDtrHandshake, DTR_CONTROL_HANDSHAKE, RTS_CONTROL_DISABLE},
      {kDtrOn | kDtrHandshake, DTR_CONTROL_ENABLE, RTS_CONTROL_DISABLE},
      {kRtsOn, DTR_CONTROL_DISABLE, RTS_CONTROL_ENABLE},
      {kRtsOnAlt, DTR_CONTROL_DISABLE, RTS_CONTROL_ENABLE},
      {kRtsHandshake, DTR_CONTROL_DISABLE, RTS_CONTROL_HANDSHAKE},
      {kRtsOn | kRtsHandshake | kRtsToggle, DTR_CONTROL_DISABLE, RTS_CONTROL_ENABLE},
      {kRtsHandshake | kRtsToggle, DTR_CONTROL_DISABLE, RTS_CONTROL_HANDSHAKE},
      {kDtrOnAlt | kRtsOnAlt, DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE},
  };
  for (const LineCase &c : cases) {
    PortHandle handle = nullptr;
    EXPECT_EQ(PortOpen(ComPort().c_str(), &settings, c.options, &handle), kPortOk) << std::hex << c.options;
    EXPECT_EQ(g_record.stateWritten.fDtrControl, c.dtr) << std::hex << c.options;
    EXPECT_EQ(g_record.stateWritten.fRtsControl, c.rts) << std::hex << c.options;
    if (handle != nullptr) PortClose(handle);
  }
}

TEST_F(Kernel32Recorder, RtsToggleAloneMakesRtsFollowTheTransmission) {
  SKIP_WITHOUT_COM_PORT();
  const PortSettings settings = {9600, 8, 0, 0};
  PortHandle handle = nullptr;
  int result = PortOpen(ComPort().c_str(), &settings, kRtsToggle, &handle);
  EXPECT_EQ(g_record.stateWritten.fRtsControl, static_cast<DWORD>(RTS_CONTROL_TOGGLE));
  if (handle != nullptr) PortClose(handle);
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  if (ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr) {
    GTEST_SKIP() << "Wine refuses RTS_CONTROL_TOGGLE (the open gives " << result << ")";
  }
  EXPECT_EQ(result, kPortOk);
}

struct FailureCase {
  const char *failing;
  int result;
};

TEST_F(Kernel32Recorder, AFailedConfigurationStepClosesTheDeviceAndGivesItsCode) {
  SKIP_WITHOUT_COM_PORT();
  const PortSettings settings = {9600, 8, 0, 0};
  const FailureCase cases[] = {
      {"GetCommState", kPortGetStateFailed},
      {"SetCommTimeouts", kPortOpenFailed},
      {"SetCommState", kPortSetStateFailed},
  };
  for (const FailureCase &c : cases) {
    g_record = Record{};
    g_record.failing = c.failing;
    PortHandle handle = reinterpret_cast<PortHandle>(1);
    EXPECT_EQ(PortOpen(ComPort().c_str(), &settings, kLineOptionsDefault, &handle), c.result) << c.failing;
    EXPECT_EQ(handle, nullptr) << c.failing;
    ASSERT_EQ(g_record.creates.size(), 1u) << c.failing;
    // The device that was opened is closed again, and nothing comes after.
    EXPECT_EQ(g_record.closed, std::vector<HANDLE>{g_record.creates[0].result}) << c.failing;
    EXPECT_EQ(g_record.calls.back(), "CloseHandle") << c.failing;
  }
}

}  // namespace
