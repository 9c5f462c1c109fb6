#include "tape_model.h"

namespace {

// Parity positions in [0, g).
int64_t parity_before(int64_t g)
{
    const int64_t blocks = g / ECC_N;
    const int within = block_position(g);
    return blocks * ECC_NMK + (within > ECC_K ? within - ECC_K : 0);
}

// Data positions in [0, g).
int64_t data_before(int64_t g) { return g - parity_before(g); }

}  // namespace

int64_t data_positions_between(int64_t start, int64_t g) { return data_before(g) - data_before(start); }

int64_t data_plane_position(int64_t start, int64_t d)
{
    const int64_t target = data_before(start) + d;
    return target / ECC_K * ECC_N + target % ECC_K;
}

int64_t plane_file_offset(const VideoSystem& v, int64_t d)
{
    return d == 0 ? 0 : v.first_plane_data + (d - 1) * v.plane_size;
}

int32_t plane_capacity(const VideoSystem& v, int64_t d) { return d == 0 ? v.first_plane_data : v.plane_size; }

int64_t file_plane_count(const VideoSystem& v, int64_t size)
{
    if (size <= v.first_plane_data)
        return 1;
    return 1 + (size - v.first_plane_data + v.plane_size - 1) / v.plane_size;
}

int64_t size_from_header(const VideoSystem& v, int64_t start, int64_t g, int64_t remaining)
{
    if (remaining <= 0 || g < start)
        return -1;
    int64_t data_at = g;
    if (is_parity_position(g))
        data_at = block_base(g) + ECC_K - 1;
    if (data_at < start)
        return -1;
    return remaining + plane_file_offset(v, data_positions_between(start, data_at));
}

int64_t expected_last_index(const VideoSystem& v, int64_t start, int64_t size, int last_file)
{
    const int64_t last_plane = data_plane_position(start, file_plane_count(v, size) - 1);
    int64_t end = last_plane;
    if (last_file)
        end = block_base(last_plane) + ECC_N - 1;
    else if (block_position(last_plane) == ECC_K - 1)
        end = last_plane + ECC_NMK;
    return end - start;
}

PlaneSpan plane_span(const VideoSystem& v, int64_t start, int64_t size, int64_t g)
{
    PlaneSpan span{0, 0, 0, -1};
    if (g < start || is_parity_position(g))
        return span;
    const int64_t d = data_positions_between(start, g);
    span.data_index = d;
    span.offset = plane_file_offset(v, d);
    span.plane_start = d == 0 ? HEADER_AREA_SIZE : 0;
    if (size < 0) {
        span.count = -1;
        return span;
    }
    const int64_t left = size - span.offset;
    const int32_t capacity = plane_capacity(v, d);
    span.count = left <= 0 ? 0 : left < capacity ? static_cast<int32_t>(left) : capacity;
    return span;
}
