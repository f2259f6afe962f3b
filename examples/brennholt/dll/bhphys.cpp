// bhphys.dll: Brennholt's physics and terrain module as shipped with update 1.04.
// Fixed-point (16.16) integration, terrain sampling and grid path finding for the
// woodcutters and carts. Exported with C names so the game and its editor can load it.
#include <windows.h>

#include <cstdint>
#include <cstring>

namespace {

using Fixed = int32_t;  // 16.16 fixed point
constexpr int FixedShift = 16;

Fixed fixedMul(Fixed a, Fixed b) {
  return static_cast<Fixed>((static_cast<int64_t>(a) * b) >> FixedShift);
}

Fixed fixedDiv(Fixed a, Fixed b) {
  if (b == 0) return a >= 0 ? INT32_MAX : INT32_MIN;
  return static_cast<Fixed>((static_cast<int64_t>(a) << FixedShift) / b);
}

// Integer square root of a 32.32 value, giving 16.16.
Fixed fixedSqrt(Fixed value) {
  if (value <= 0) return 0;
  uint64_t x = static_cast<uint64_t>(value) << FixedShift;
  uint64_t root = 0;
  uint64_t bit = uint64_t{1} << 62;
  while (bit > x) bit >>= 2;
  while (bit != 0) {
    if (x >= root + bit) {
      x -= root + bit;
      root = (root >> 1) + bit;
    } else {
      root >>= 1;
    }
    bit >>= 2;
  }
  return static_cast<Fixed>(root);
}

struct Terrain {
  int widthCells = 0;
  int heightCells = 0;
  const uint8_t* heights = nullptr;  // one byte per cell, 0.25 m per step
};

Terrain currentTerrain;

int heightAt(int x, int y) {
  if (x < 0) x = 0;
  if (y < 0) y = 0;
  if (x >= currentTerrain.widthCells) x = currentTerrain.widthCells - 1;
  if (y >= currentTerrain.heightCells) y = currentTerrain.heightCells - 1;
  return currentTerrain.heights[y * currentTerrain.widthCells + x];
}

// Bilinear height in 16.16 at a 16.16 position.
Fixed sampleHeight(Fixed x, Fixed y) {
  int cellX = x >> FixedShift;
  int cellY = y >> FixedShift;
  Fixed fracX = x & 0xFFFF;
  Fixed fracY = y & 0xFFFF;
  Fixed h00 = heightAt(cellX, cellY) << FixedShift;
  Fixed h10 = heightAt(cellX + 1, cellY) << FixedShift;
  Fixed h01 = heightAt(cellX, cellY + 1) << FixedShift;
  Fixed h11 = heightAt(cellX + 1, cellY + 1) << FixedShift;
  Fixed top = h00 + fixedMul(h10 - h00, fracX);
  Fixed bottom = h01 + fixedMul(h11 - h01, fracX);
  return top + fixedMul(bottom - top, fracY);
}

// Open list of the path finder: a binary heap of cell indices ordered by cost.
class OpenList {
 public:
  OpenList(int32_t* cells, const int32_t* cost, int capacity)
      : cells_(cells), cost_(cost), capacity_(capacity) {}

  bool empty() const { return count_ == 0; }

  bool push(int32_t cell) {
    if (count_ == capacity_) return false;
    int at = count_++;
    while (at > 0) {
      int parent = (at - 1) / 2;
      if (cost_[cells_[parent]] <= cost_[cell]) break;
      cells_[at] = cells_[parent];
      at = parent;
    }
    cells_[at] = cell;
    return true;
  }

  int32_t pop() {
    int32_t top = cells_[0];
    int32_t last = cells_[--count_];
    int at = 0;
    for (;;) {
      int child = at * 2 + 1;
      if (child >= count_) break;
      if (child + 1 < count_ && cost_[cells_[child + 1]] < cost_[cells_[child]]) ++child;
      if (cost_[last] <= cost_[cells_[child]]) break;
      cells_[at] = cells_[child];
      at = child;
    }
    cells_[at] = last;
    return top;
  }

 private:
  int32_t* cells_;
  const int32_t* cost_;
  int capacity_;
  int count_ = 0;
};

int absInt(int v) { return v < 0 ? -v : v; }

}  // namespace

extern "C" {

struct BhBody {
  Fixed x, y, z;      // position, 16.16 cells
  Fixed vx, vy, vz;   // velocity, cells per tick
  Fixed massKg;
  int32_t grounded;
};

__declspec(dllexport) int __cdecl BhVersion() { return 104; }

__declspec(dllexport) int __cdecl BhSetTerrain(const uint8_t* heights, int widthCells,
                                               int heightCells) {
  if (heights == nullptr || widthCells <= 1 || heightCells <= 1) return 0;
  currentTerrain = Terrain{widthCells, heightCells, heights};
  return 1;
}

__declspec(dllexport) Fixed __cdecl BhHeight(Fixed x, Fixed y) {
  if (currentTerrain.heights == nullptr) return 0;
  return sampleHeight(x, y);
}

// Steepness between two cells in percent; carts refuse slopes above 35 since 1.04.
__declspec(dllexport) int __cdecl BhSlopePercent(int x0, int y0, int x1, int y1) {
  if (currentTerrain.heights == nullptr) return 0;
  int rise = absInt(heightAt(x1, y1) - heightAt(x0, y0));
  Fixed run = fixedSqrt(((x1 - x0) * (x1 - x0) + (y1 - y0) * (y1 - y0)) << FixedShift);
  if (run == 0) return 0;
  return fixedMul(fixedDiv(rise << FixedShift, run * 4), 100 << FixedShift) >> FixedShift;
}

// One physics tick: gravity, ground contact with friction, velocity clamp.
__declspec(dllexport) void __cdecl BhStep(BhBody* bodies, int count, Fixed gravity,
                                          Fixed friction) {
  const Fixed maxSpeed = 4 << FixedShift;
  for (int i = 0; i < count; ++i) {
    BhBody& body = bodies[i];
    body.vz -= gravity;
    body.x += body.vx;
    body.y += body.vy;
    body.z += body.vz;
    Fixed ground = currentTerrain.heights ? sampleHeight(body.x, body.y) : 0;
    if (body.z <= ground) {
      body.z = ground;
      body.vz = 0;
      body.vx = fixedMul(body.vx, (1 << FixedShift) - friction);
      body.vy = fixedMul(body.vy, (1 << FixedShift) - friction);
      body.grounded = 1;
    } else {
      body.grounded = 0;
    }
    Fixed speed = fixedSqrt(fixedMul(body.vx, body.vx) + fixedMul(body.vy, body.vy));
    if (speed > maxSpeed) {
      Fixed scale = fixedDiv(maxSpeed, speed);
      body.vx = fixedMul(body.vx, scale);
      body.vy = fixedMul(body.vy, scale);
    }
  }
}

// Finds a path over the terrain grid, avoiding slopes steeper than maxRise per cell.
// work must hold 3 * width * height int32 values. Writes up to maxSteps cell indices from
// the goal back to the start into path; returns the number written, 0 when unreachable.
__declspec(dllexport) int __cdecl BhFindPath(int startX, int startY, int goalX, int goalY,
                                             int maxRise, int32_t* work, int32_t* path,
                                             int maxSteps) {
  const int width = currentTerrain.widthCells;
  const int height = currentTerrain.heightCells;
  if (currentTerrain.heights == nullptr || work == nullptr || path == nullptr) return 0;
  const int cells = width * height;
  int32_t* cost = work;
  int32_t* from = work + cells;
  int32_t* heap = work + 2 * cells;
  for (int i = 0; i < cells; ++i) {
    cost[i] = INT32_MAX;
    from[i] = -1;
  }
  const int start = startY * width + startX;
  const int goal = goalY * width + goalX;
  // The heap orders by the estimate, kept in a second cost array would need more memory;
  // the 1.04 finder orders by cost so far, which is exact and fast enough on our maps.
  OpenList open(heap, cost, cells);
  cost[start] = 0;
  open.push(start);
  static const int stepX[8] = {1, -1, 0, 0, 1, 1, -1, -1};
  static const int stepY[8] = {0, 0, 1, -1, 1, -1, 1, -1};
  static const int stepCost[8] = {10, 10, 10, 10, 14, 14, 14, 14};
  while (!open.empty()) {
    int cell = open.pop();
    if (cell == goal) break;
    int x = cell % width;
    int y = cell / width;
    for (int d = 0; d < 8; ++d) {
      int nx = x + stepX[d];
      int ny = y + stepY[d];
      if (nx < 0 || ny < 0 || nx >= width || ny >= height) continue;
      int rise = absInt(heightAt(nx, ny) - heightAt(x, y));
      if (rise > maxRise) continue;
      int next = ny * width + nx;
      int32_t newCost = cost[cell] + stepCost[d] + rise * 3;
      if (newCost < cost[next]) {
        cost[next] = newCost;
        from[next] = cell;
        if (!open.push(next)) return 0;
      }
    }
  }
  if (from[goal] == -1 && goal != start) return 0;
  int steps = 0;
  for (int cell = goal; cell != -1 && steps < maxSteps; cell = from[cell]) path[steps++] = cell;
  return steps;
}

// Smooths a height map in place (3x3 box filter), as the editor does after painting.
__declspec(dllexport) void __cdecl BhSmooth(uint8_t* heights, int widthCells, int heightCells,
                                            uint8_t* scratch) {
  std::memcpy(scratch, heights, static_cast<size_t>(widthCells) * heightCells);
  for (int y = 1; y + 1 < heightCells; ++y) {
    for (int x = 1; x + 1 < widthCells; ++x) {
      int sum = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) sum += scratch[(y + dy) * widthCells + x + dx];
      heights[y * widthCells + x] = static_cast<uint8_t>(sum / 9);
    }
  }
}

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
