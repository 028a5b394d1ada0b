#include "n2/point_tables.h"

#include <stddef.h>
#include <string.h>

// The tables are built at compile time from the same runs the device
// documentation lists ("DCO1..DCO16: type 80, W, offset 10, bits 0..15"): each
// builder call below is one line of that documentation, and the rows come out
// in the documented order. Nothing runs at start-up; the result is constant
// data in the driver image.

namespace {

// ---- compile-time row builders ----------------------------------------------

// Not constexpr on purpose: reaching it while the tables are built at compile
// time is a compile error, so a name longer than its field or a table with
// more rows than declared never gets into the driver.
void DoesNotFit() {}

// Writes prefix, the number n (when n >= 0; zero-padded to `digits` digits)
// and suffix into out, NUL padded.
constexpr void ComposeName(char *out, size_t size, const char *prefix, int n, int digits,
                           const char *suffix) {
  char text[16] = {};
  size_t at = 0;
  for (const char *p = prefix; *p != '\0'; ++p) text[at++] = *p;
  if (n >= 0) {
    char reversed[4] = {};
    int count = 0;
    do {
      reversed[count++] = static_cast<char>('0' + n % 10);
      n /= 10;
    } while (n != 0);
    for (int pad = count; pad < digits; ++pad) text[at++] = '0';
    while (count > 0) text[at++] = reversed[--count];
  }
  for (const char *p = suffix; *p != '\0'; ++p) text[at++] = *p;
  if (at >= size) DoesNotFit();
  for (size_t i = 0; i < size; ++i) out[i] = text[i];
}

constexpr int kNoNumber = -1;

// A point table under construction. Every call appends rows in the order of
// the device documentation; the arguments follow its wording: type code,
// access, offset, bit.
template <size_t N>
struct PointTable {
  PointEntry rows[N] = {};
  size_t count = 0;

  // One row named prefix<n><suffix>.
  constexpr PointTable &Row(const char *prefix, int n, const char *suffix, uint16_t type,
                            char access, uint16_t offset, uint16_t bit) {
    if (count >= N) DoesNotFit();
    PointEntry &row = rows[count++];
    ComposeName(row.mnemonic, sizeof row.mnemonic, prefix, n, 0, suffix);
    row.type = type;
    row.access = static_cast<uint16_t>(access);
    row.offset = offset;
    row.bit = bit;
    return *this;
  }

  // One row: "SSA: type 80, W, offset 1, bit 15".
  constexpr PointTable &Point(const char *name, uint16_t type, char access, uint16_t offset,
                              uint16_t bit = kWholeItem) {
    return Row(name, kNoNumber, "", type, access, offset, bit);
  }

  // Several names of one whole item: "offset 26: LSP, LSP1, K0, ...".
  template <typename... Names>
  constexpr PointTable &Same(uint16_t type, char access, uint16_t offset, Names... names) {
    (Point(names, type, access, offset), ...);
    return *this;
  }

  // A run of whole items at rising offsets: "CNTR1..CNTR8: type 60, W, offsets 13..20".
  constexpr PointTable &Items(const char *prefix, int first, int last, uint16_t type, char access,
                              uint16_t firstOffset) {
    for (int n = first; n <= last; ++n) {
      Row(prefix, n, "", type, access, static_cast<uint16_t>(firstOffset + (n - first)), kWholeItem);
    }
    return *this;
  }

  // A run of bits of one item: "DCO1..DCO16: type 80, W, offset 10, bits 0..15".
  constexpr PointTable &Bits(const char *prefix, int first, int last, uint16_t type, char access,
                             uint16_t offset, uint16_t firstBit, const char *suffix = "") {
    for (int n = first; n <= last; ++n) {
      Row(prefix, n, suffix, type, access, offset, static_cast<uint16_t>(firstBit + (n - first)));
    }
    return *this;
  }
};

// A family's module table under construction.
template <size_t N>
struct ModuleTable {
  ModuleEntry rows[N] = {};
  size_t count = 0;

  // Modules prefix<first>..prefix<last> (number in `digits` digits) with
  // bases rising by step, all sharing one point table.
  template <size_t P>
  constexpr ModuleTable &Run(const char *prefix, int first, int last, int digits,
                             uint16_t firstBase, uint16_t step, const PointTable<P> &points) {
    for (int n = first; n <= last; ++n) {
      if (count >= N) DoesNotFit();
      ModuleEntry &row = rows[count++];
      ComposeName(row.name, sizeof row.name, prefix, n, digits, "");
      row.base = static_cast<uint16_t>(firstBase + step * (n - first));
      row.pointCount = static_cast<uint16_t>(points.count);
      row.points = points.rows;
    }
    return *this;
  }

  // One module.
  template <size_t P>
  constexpr ModuleTable &Module(const char *name, uint16_t base, const PointTable<P> &points) {
    return Run(name, kNoNumber, kNoNumber, 0, base, 0, points);
  }
};

// True when a table got exactly the rows it was declared with.
template <typename Table>
constexpr bool Complete(const Table &table) {
  return table.count == sizeof table.rows / sizeof table.rows[0];
}

constexpr char R = 'R';  // read only
constexpr char W = 'W';  // readable and writable

// ---- DX9100 point tables ------------------------------------------------------

// General controller module GC: digital I/O states, alarms, logic results,
// digital and analog constants, counters.
constexpr auto kGcPoints = [] {
  PointTable<143> t;
  t.Point("SSA", 80, W, 1, 15);
  t.Bits("DO", 3, 8, 40, R, 5, 0);
  t.Bits("DI", 1, 8, 40, R, 6, 0);
  // High and low alarm of each analog input, in pairs: AIH1, AIL1, AIH2, ...
  for (int n = 1; n <= 8; ++n) {
    const uint16_t high = static_cast<uint16_t>(2 * (n - 1));
    t.Row("AIH", n, "", 80, R, 7, high).Row("AIL", n, "", 80, R, 7, static_cast<uint16_t>(high + 1));
  }
  t.Bits("LRS", 1, 16, 80, R, 8, 0);
  t.Bits("LRS", 17, 32, 80, R, 9, 0);
  t.Bits("DCO", 1, 16, 80, W, 10, 0);
  t.Bits("DCO", 17, 32, 80, W, 11, 0);
  t.Items("CNTR", 1, 8, 60, W, 13);
  t.Items("ACO", 1, 8, 30, W, 34);
  t.Bits("LRS", 33, 48, 80, R, 44, 0);
  t.Bits("LRS", 49, 64, 80, R, 45, 0);
  return t;
}();
static_assert(Complete(kGcPoints));

// Programmable module PM01..PM12: status bits, the constants and variables of
// the control algorithms (many names per item, one per algorithm), outputs.
constexpr auto kPmPoints = [] {
  PointTable<172> t;
  t.Point("SOFE", 80, W, 1, 0).Point("SOFL", 80, W, 1, 1).Point("STAE", 80, W, 1, 2);
  t.Point("STAL", 80, W, 1, 3).Point("SYME", 80, W, 1, 4).Point("EFL", 80, W, 1, 5);
  t.Point("PIDP", 80, W, 1, 6).Point("REM", 80, W, 1, 7).Point("SOTO", 80, W, 1, 8);
  t.Point("PUPM", 80, W, 1, 13).Point("PUPI", 80, W, 1, 14).Point("NEXT", 80, W, 1, 15);
  t.Same(30, W, 26, "LSP", "LSP1", "K0", "X0", "K1IS", "T1", "SP1");
  t.Same(30, W, 27, "PB", "PB1", "ACT1", "K1", "Y0", "C1", "T2", "DF1");
  t.Same(30, W, 28, "TI", "TI1", "K2", "X1", "T3", "SP2");
  t.Same(30, W, 29, "TD1", "K3", "Y1", "C2", "T4", "DF2");
  t.Same(30, W, 30, "K4", "X2", "K3IS", "T5", "SP3");
  t.Same(30, W, 31, "C3", "T6", "K5", "Y2", "DF3");
  t.Same(30, W, 32, "K4IS", "T7", "K6", "X3", "SP4");
  t.Same(30, W, 33, "C4", "T8", "K7", "Y3", "DF4");
  t.Same(30, W, 34, "K8", "X4", "SP5");
  t.Same(30, W, 35, "K9", "Y4", "DF5");
  t.Same(30, W, 36, "HIL", "X5", "SP6");
  t.Same(30, W, 37, "LOL", "Y5", "DF6");
  t.Same(30, W, 38, "X6", "SP7");
  t.Same(30, W, 39, "Y6", "DF7");
  t.Same(30, W, 40, "X7", "SP8");
  t.Same(30, W, 41, "Y7", "DF8");
  t.Same(30, W, 42, "X8");
  t.Same(30, W, 43, "Y8", "LSP2");
  t.Same(30, W, 44, "PB2", "ACT2", "X9");
  t.Same(30, W, 45, "TI2", "Y9");
  t.Same(30, W, 46, "TD2", "X10");
  t.Point("Y10", 30, W, 47).Point("X11", 30, W, 48).Point("Y11", 30, W, 49);
  t.Point("X12", 30, W, 50).Point("Y12", 30, W, 51).Point("X13", 30, W, 52);
  t.Point("Y13", 30, W, 53).Point("X14", 30, W, 54).Point("Y14", 30, W, 55);
  t.Point("X15", 30, W, 56).Point("Y15", 30, W, 57).Point("X16", 30, W, 58);
  t.Point("Y16", 30, W, 59);
  t.Same(30, W, 60, "OCM", "NCM", "NCM1", "TOT1", "OUT");
  t.Same(30, W, 61, "WSP", "WSP1", "TOT2", "NCM2", "OUTD");
  t.Same(30, W, 62, "WSP2", "TOT3", "NCM3", "OUTS");
  t.Same(30, W, 63, "PV", "TOT4", "NCM4");
  t.Same(30, W, 64, "TOT5", "NCM5");
  t.Same(30, W, 65, "TOT6", "NCM6");
  t.Same(30, W, 66, "RSP", "TOT7", "NCM7");
  t.Same(30, W, 67, "RV", "TOT8", "NCM8");
  // CMP and HDC2 name the same bit.
  t.Point("HDC1", 40, W, 70, 0).Point("CMP", 40, W, 70, 1);
  t.Bits("HDC", 2, 8, 40, W, 70, 1);
  t.Point("LOCM", 40, W, 71, 0);
  for (int n = 1; n <= 8; ++n) {
    const uint16_t bit = static_cast<uint16_t>(n - 1);
    t.Row("STO", n, "", 40, W, 71, bit).Row("TDO", n, "", 40, W, 71, bit);
  }
  // RA and LS1 name the same bit.
  t.Point("RA", 80, R, 72, 0);
  t.Bits("LS", 1, 8, 80, R, 72, 0);
  t.Items("RT", 1, 8, 60, W, 73);
  return t;
}();
static_assert(Complete(kPmPoints));

// Analog input modules AI01..AI08: range, alarm limits, filter, the input.
constexpr auto kAiPoints = [] {
  PointTable<7> t;
  t.Point("HR", 30, W, 1).Point("LR", 30, W, 2).Point("HIA", 30, W, 3).Point("LOA", 30, W, 4);
  t.Point("FTC", 30, W, 5).Point("ADF", 30, W, 6).Point("AI", 30, R, 7);
  return t;
}();
static_assert(Complete(kAiPoints));

// Analog output modules AO01, AO02, AO09..AO14.
constexpr auto kAoPoints = [] {
  PointTable<2> t;
  t.Point("OUT", 30, W, 6).Point("OUH", 40, W, 7, 0);
  return t;
}();
static_assert(Complete(kAoPoints));

// Digital output modules DO03..DO08; "DO@" is the one name with a symbol.
constexpr auto kDoPoints = [] {
  PointTable<3> t;
  t.Point("DO@", 70, W, 1).Point("OUT", 30, W, 11).Point("OUH", 40, W, 12, 0);
  return t;
}();
static_assert(Complete(kDoPoints));

// Extension modules XT01..XT08: the I/O of an extension module and its status.
constexpr auto kXtPoints = [] {
  PointTable<53> t;
  t.Items("XTAI", 1, 8, 30, R, 45);
  t.Items("XTAO", 1, 8, 30, W, 53);
  t.Items("XTDIC", 1, 8, 60, W, 61);
  t.Bits("XTOUH", 1, 8, 40, W, 69, 0);
  t.Bits("XTDO", 1, 8, 40, W, 70, 0);
  t.Bits("XTDI", 1, 8, 40, R, 71, 0);
  t.Point("XTCOM", 40, R, 72, 0).Point("XTSEL", 40, R, 72, 4).Point("XTERR", 40, R, 72, 5);
  t.Point("XTFAIL", 40, R, 72, 6).Point("XTPWR", 40, R, 72, 7);
  return t;
}();
static_assert(Complete(kXtPoints));

// Time schedules TS01..TS08: the output, then eight switching periods. The
// period points are addressed by their offset alone (time-schedule area).
constexpr auto kTsPoints = [] {
  PointTable<25> t;
  t.Point("TSOUT", 40, W, 6, 1);
  for (int n = 1; n <= 8; ++n) {
    const uint16_t start = static_cast<uint16_t>(3 * n + 2);
    t.Row("START", n, "", 60, W, start, kWholeItem);
    t.Row("END", n, "", 60, W, static_cast<uint16_t>(start + 1), kWholeItem);
    t.Row("DAYS", n, "", 60, W, static_cast<uint16_t>(start + 2), kWholeItem);
  }
  return t;
}();
static_assert(Complete(kTsPoints));

// Real-time clock RTCL, addressed by offset alone (real-time-clock area).
constexpr auto kRtclPoints = [] {
  PointTable<4> t;
  t.Point("CENT", 60, R, 0).Point("DATE", 60, W, 1).Point("WDAY", 60, R, 4).Point("TIME", 60, W, 5);
  return t;
}();
static_assert(Complete(kRtclPoints));

constexpr auto kDx9100Modules = [] {
  ModuleTable<52> m;
  m.Module("GC", 0, kGcPoints);
  m.Run("PM", 1, 12, 2, 64, 96, kPmPoints);
  m.Run("AI", 1, 8, 2, 1216, 16, kAiPoints);
  m.Module("AO01", 1344, kAoPoints).Module("AO02", 1360, kAoPoints);
  m.Run("AO", 9, 14, 2, 2304, 16, kAoPoints);
  m.Run("DO", 3, 8, 2, 1376, 16, kDoPoints);
  m.Run("XT", 1, 8, 2, 1472, 80, kXtPoints);
  m.Run("TS", 1, 8, 2, 2112, 16, kTsPoints);
  m.Module("RTCL", 4095, kRtclPoints);
  return m;
}();
static_assert(Complete(kDx9100Modules));

// ---- XT9100 tables --------------------------------------------------------------

// Both modules have base 0: their offsets are device addresses.
constexpr auto kXp01Points = [] {
  PointTable<25> t;
  t.Bits("DO", 1, 8, 40, W, 7, 0);
  t.Bits("DI", 1, 8, 40, R, 9, 0);
  t.Items("AI", 1, 6, 30, R, 12);
  t.Point("AO7", 30, W, 26).Point("AO8", 30, W, 27);
  t.Point("DOPT", 50, W, 68);
  return t;
}();
static_assert(Complete(kXp01Points));

constexpr auto kXp02Points = [] {
  PointTable<17> t;
  t.Bits("DO", 1, 8, 40, W, 8, 0);
  t.Bits("DI", 1, 8, 40, R, 10, 0);
  t.Point("DOPT", 50, W, 68);
  return t;
}();
static_assert(Complete(kXp02Points));

constexpr auto kXt9100Modules = [] {
  ModuleTable<2> m;
  m.Module("XP01", 0, kXp01Points).Module("XP02", 0, kXp02Points);
  return m;
}();
static_assert(Complete(kXt9100Modules));

// ---- TC9100 tables --------------------------------------------------------------

// General controller TCGC.
constexpr auto kTcgcPoints = [] {
  PointTable<173> t;
  t.Items("AI", 1, 4, 30, W, 1);
  t.Items("OCM", 1, 6, 30, W, 10);
  t.Items("WSP", 1, 6, 30, W, 16);
  t.Items("XAI", 1, 4, 30, W, 22);
  t.Point("ACO5", 30, W, 26).Point("ACO6", 30, W, 27);
  t.Point("WAC", 30, R, 28).Point("SAC", 30, R, 29);
  // The digital outputs sit DO3..DO7, DO1, DO2 from bit 0 up, in the state,
  // enable ("E") and command ("C") items alike.
  t.Bits("DO", 3, 7, 40, R, 31, 0).Bits("DO", 1, 2, 40, R, 31, 5);
  t.Point("MODS", 90, R, 32);
  t.Point("MODT", 40, R, 32, 2).Point("MODA", 40, R, 32, 3).Point("SUP", 40, R, 32, 4);
  t.Point("WIN", 40, R, 32, 5).Point("OCC", 40, R, 32, 6).Point("AIRQ", 40, R, 32, 7);
  t.Bits("DO", 3, 7, 40, W, 33, 0, "E").Bits("DO", 1, 2, 40, W, 33, 5, "E");
  t.Bits("DO", 3, 7, 40, W, 34, 0, "C").Bits("DO", 1, 2, 40, W, 34, 5, "C");
  t.Bits("HLD", 1, 6, 40, W, 35, 0);
  t.Bits("CMP", 1, 6, 40, W, 36, 0);
  t.Point("MODC", 90, W, 37);
  t.Point("SOFF", 40, W, 37, 2).Point("STUP", 40, W, 37, 3).Point("SUP1", 40, W, 37, 5);
  t.Point("MAN", 40, W, 37, 6).Point("SUPR", 40, W, 37, 7);
  // FOS and LOOP3 name the same bit.
  t.Point("MNT", 40, R, 38, 0).Point("MNTS", 40, R, 38, 1).Point("RAS", 40, R, 38, 2);
  t.Point("LOOP1", 40, R, 38, 3).Point("IAS", 40, R, 38, 5).Point("AFM", 40, R, 38, 6);
  t.Point("FOS", 40, R, 38, 7).Point("LOOP3", 40, R, 38, 7);
  t.Point("RA", 40, W, 135, 7);
  t.Point("OS", 90, R, 157);
  t.Point("BA", 40, R, 157, 4).Point("FOM", 40, R, 157, 6).Point("CMA", 40, R, 157, 7);
  t.Point("MIN", 160, W, 158).Point("HOUR", 170, W, 158).Point("WDAY", 180, W, 158);
  t.Point("SPW", 30, W, 160).Point("SPS", 30, W, 161).Point("WA", 30, W, 162);
  t.Point("SA", 30, W, 163).Point("FSP", 30, W, 165).Point("FDIF", 30, W, 166);
  t.Point("RTCR", 80, W, 167, 6).Point("FOR", 80, W, 167, 7);
  t.Bits("AIO", 1, 4, 80, W, 167, 8);
  t.Point("TEMP", 30, R, 257).Point("RSP", 30, R, 258);
  t.Same(50, W, 261, "MIN1", "HOUR1", "WDAY1");
  // Seven blocks of 16 items from 272 on (D = 272, 288, ..., 368).
  for (int k = 1; k <= 7; ++k) {
    const uint16_t d = static_cast<uint16_t>(272 + 16 * (k - 1));
    for (int m = 1; m <= 6; ++m) {
      const char slot[3] = {'M', static_cast<char>('0' + m), '\0'};  // DSTkM1 .. DSTkM6
      t.Row("DST", k, slot, 50, W, d, kWholeItem);
    }
    t.Row("DST", k, "DY", 150, W, d, kWholeItem);
    t.Row("E12S", k, "", 50, W, static_cast<uint16_t>(d + 1), kWholeItem);
    t.Row("E34S", k, "", 50, W, static_cast<uint16_t>(d + 2), kWholeItem);
    t.Row("E56S", k, "", 50, W, static_cast<uint16_t>(d + 3), kWholeItem);
  }
  return t;
}();
static_assert(Complete(kTcgcPoints));

// Control loops TCP1..TCP6 share one table; neighbouring modules overlap in
// memory (TCP1 offset 11 is TCP2 offset 0).
constexpr auto kTcpPoints = [] {
  PointTable<30> t;
  t.Same(30, W, 0, "LSP", "LSP1");
  t.Point("RA", 80, W, 4, 15).Point("RA1", 80, W, 4, 15);
  t.Same(30, W, 5, "ACT", "ACT1", "PB", "PB1");
  t.Same(30, W, 6, "DIF", "DIF1", "TI", "TI1");
  t.Same(30, W, 7, "HIL", "HIL1");
  t.Same(30, W, 8, "LOL", "LOL1");
  t.Same(30, W, 9, "BSB", "BSB1");
  t.Same(30, W, 10, "BNT", "BNT1");
  t.Same(30, W, 11, "LSP2");
  t.Point("RA2", 80, W, 15, 15);
  t.Same(30, W, 16, "ACT2", "PB2");
  t.Same(30, W, 17, "DIF2", "TI2");
  t.Same(30, W, 18, "HIL2");
  t.Same(30, W, 19, "LOL2");
  t.Same(30, W, 20, "BSB2");
  t.Same(30, W, 21, "BNT2");
  return t;
}();
static_assert(Complete(kTcpPoints));

constexpr auto kTc9100Modules = [] {
  ModuleTable<7> m;
  m.Module("TCGC", 0, kTcgcPoints);
  m.Run("TCP", 1, 6, 1, 39, 11, kTcpPoints);
  return m;
}();
static_assert(Complete(kTc9100Modules));

}  // namespace

const FamilyTable kFamilies[3] = {
    {"DX9100", kDx9100Modules.rows, static_cast<uint16_t>(kDx9100Modules.count)},
    {"XT9100", kXt9100Modules.rows, static_cast<uint16_t>(kXt9100Modules.count)},
    {"TC9100", kTc9100Modules.rows, static_cast<uint16_t>(kTc9100Modules.count)},
};

const FamilyTable *FindFamily(const char *stationType) {
  if (stationType == nullptr) return nullptr;
  for (const FamilyTable &family : kFamilies) {
    if (strcmp(family.name, stationType) == 0) return &family;
  }
  return nullptr;
}
