// Command 14: the driver describes itself to the host.
#include <array>

#include "driver/handlers.h"

namespace {

constexpr int32_t kDriverId = 82;
constexpr int32_t kHostConstant4 = 4;
constexpr int32_t kHostConstant3 = 3;
constexpr PortSettings kDefaultSettings = {9600, 8, 0, 0};  // 9600 baud, 8N1

constexpr char kCatalogueText[] = "KT-Johnson N2 series";

// Box-drawing characters of code page 437, in which the host shows the banner.
constexpr char kTopLeft = '\xDA', kTopRight = '\xBF', kBottomLeft = '\xC0', kBottomRight = '\xD9';
constexpr char kHorizontal = '\xC4', kVertical = '\xB3';
constexpr char kFull = '\xDB', kDark = '\xB2', kMedium = '\xB1', kLight = '\xB0';

// The install banner: a newline, then a box of five lines of 62 characters,
// each followed by a newline.
struct BannerBuilder {
  std::array<char, 1 + 5 * 63 + 1> text{};
  int length = 0;

  constexpr void Put(char c, int count = 1) {
    for (int i = 0; i < count; ++i) text[length++] = c;
  }
  constexpr void Put(const char *s) {
    while (*s != '\0') text[length++] = *s++;
  }
};

constexpr BannerBuilder BuildBanner() {
  BannerBuilder b;
  b.Put('\n');
  b.Put(kTopLeft), b.Put(kHorizontal, 60), b.Put(kTopRight), b.Put('\n');
  b.Put(kVertical), b.Put(' ');
  b.Put(kFull, 5), b.Put(kDark, 6), b.Put(kMedium, 6), b.Put(kLight, 6);
  b.Put(" Z A M K T ");
  b.Put(kLight, 6), b.Put(kMedium, 6), b.Put(kDark, 6), b.Put(kFull, 5);
  b.Put(' ', 2), b.Put(kVertical), b.Put('\n');
  b.Put(kVertical), b.Put(' ', 15), b.Put("Johnson System 91 Driver installed."), b.Put(' ', 10), b.Put(kVertical);
  b.Put('\n');
  b.Put(kVertical), b.Put(' ', 19), b.Put("Johnson N2 Network Protocol."), b.Put(' ', 13), b.Put(kVertical);
  b.Put('\n');
  b.Put(kBottomLeft), b.Put(kHorizontal, 60), b.Put(kBottomRight), b.Put('\n');
  b.text[b.length] = '\0';
  return b;
}

constexpr BannerBuilder kBanner = BuildBanner();
static_assert(kBanner.length == 1 + 5 * 63, "five lines of 62 characters and their newlines");

}  // namespace

int32_t DriverInfo(DriverRequest *request) {
  DriverInfoBlock *block = static_cast<DriverInfoBlock *>(request->parameters);
  if (block == nullptr) return 0;
  block->driverId = kDriverId;
  block->catalogueText = kCatalogueText;
  block->banner = kBanner.text.data();
  block->recordSize = static_cast<int32_t>(sizeof(ChannelContext));
  block->constant4 = kHostConstant4;
  block->defaults = kDefaultSettings;
  block->constant3 = kHostConstant3;
  return 0;
}
