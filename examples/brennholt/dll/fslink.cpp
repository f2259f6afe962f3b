// FsLink.dll: the network link library shared by Feuerstein games. The update installer
// moves it from the game folder to the shared components folder under Program Files.
// Frames lobby packets: a 16-byte header (magic, sequence, length, CRC-32) and the body.
#include <windows.h>

#include <cstdint>
#include <cstring>

namespace {

// CRC-32 table of the reflected polynomial 0xEDB88320: entry n is the CRC of the byte n.
uint32_t crcTable[256];
bool crcTableReady = false;

void buildCrcTable() {
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    crcTable[n] = c;
  }
  crcTableReady = true;
}

void putLe32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t getLe32(const uint8_t* at) {
  return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

constexpr uint32_t PacketMagic = 0x4B4C5346;  // "FSLK"
constexpr int HeaderBytes = 16;

}  // namespace

extern "C" {

__declspec(dllexport) uint32_t __cdecl FsCrc32(const void* data, uint32_t bytes) {
  if (!crcTableReady) buildCrcTable();
  const uint8_t* p = static_cast<const uint8_t*>(data);
  uint32_t crc = 0xFFFFFFFFu;
  for (uint32_t i = 0; i < bytes; ++i) crc = crcTable[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

// Writes header + body into out; returns the frame size, 0 when out is too small.
__declspec(dllexport) int __cdecl FsFramePacket(uint32_t sequence, const void* body,
                                                uint32_t bodyBytes, void* out,
                                                uint32_t outBytes) {
  if (outBytes < HeaderBytes || bodyBytes > outBytes - HeaderBytes) return 0;
  uint8_t* frame = static_cast<uint8_t*>(out);
  putLe32(frame, PacketMagic);
  putLe32(frame + 4, sequence);
  putLe32(frame + 8, bodyBytes);
  putLe32(frame + 12, FsCrc32(body, bodyBytes));
  std::memcpy(frame + HeaderBytes, body, bodyBytes);
  return static_cast<int>(HeaderBytes + bodyBytes);
}

// Checks a received frame; returns the body size, -1 when damaged or incomplete.
__declspec(dllexport) int __cdecl FsCheckPacket(const void* frameData, uint32_t frameBytes,
                                                uint32_t* sequence) {
  const uint8_t* frame = static_cast<const uint8_t*>(frameData);
  if (frameBytes < HeaderBytes || getLe32(frame) != PacketMagic) return -1;
  uint32_t bodyBytes = getLe32(frame + 8);
  if (bodyBytes > frameBytes - HeaderBytes) return -1;
  if (FsCrc32(frame + HeaderBytes, bodyBytes) != getLe32(frame + 12)) return -1;
  if (sequence) *sequence = getLe32(frame + 4);
  return static_cast<int>(bodyBytes);
}

__declspec(dllexport) int __cdecl FsLinkVersion() { return 0x0203; }

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
