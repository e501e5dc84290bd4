// Probes a record's memory image: writes a marker through one field and finds where its bytes land.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

namespace layout_probe {

// Little-endian byte image of the marker written into a field of type Field.
template <typename Field>
std::vector<unsigned char> markerBytes() {
    if constexpr (std::is_same_v<Field, uint16_t>) {
        return {0xB2, 0xA1};
    } else if constexpr (std::is_same_v<Field, uint32_t>) {
        return {0xD4, 0xC3, 0xB2, 0xA1};
    } else if constexpr (std::is_same_v<Field, uint64_t>) {
        return {0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01};
    } else if constexpr (std::is_same_v<Field, float>) {
        return {0x00, 0x00, 0xC0, 0x3F};  // 1.5f
    } else if constexpr (std::is_same_v<Field, void*>) {
        return {0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01};
    } else {
        static_assert(std::is_array_v<Field>, "unsupported field type");
        return std::vector<unsigned char>(sizeof(Field), 'x');
    }
}

template <typename Field>
void writeMarker(Field& field) {
    if constexpr (std::is_same_v<Field, uint16_t>) {
        field = 0xA1B2;
    } else if constexpr (std::is_same_v<Field, uint32_t>) {
        field = 0xA1B2C3D4u;
    } else if constexpr (std::is_same_v<Field, uint64_t>) {
        field = 0x0102030405060708ull;
    } else if constexpr (std::is_same_v<Field, float>) {
        field = 1.5f;
    } else if constexpr (std::is_same_v<Field, void*>) {
        field = reinterpret_cast<void*>(static_cast<uintptr_t>(0x0102030405060708ull));
    } else {
        std::memset(field, 'x', sizeof field);
    }
}

// Expects the field's bytes, and nothing else, at `offset` (a number from the record table).
template <typename Record, typename Field>
void expectFieldAt(Field Record::*member, std::size_t offset, const char* name) {
    Record record;
    std::memset(&record, 0, sizeof record);
    writeMarker(record.*member);
    std::vector<unsigned char> image(sizeof record);
    std::memcpy(image.data(), &record, sizeof record);

    const std::vector<unsigned char> marker = markerBytes<Field>();
    ASSERT_LE(offset + marker.size(), image.size()) << name << " lies beyond the record";
    std::vector<unsigned char> expected(image.size(), 0);
    std::memcpy(expected.data() + offset, marker.data(), marker.size());
    EXPECT_EQ(image, expected) << name << " is not " << marker.size() << " bytes at offset "
                               << offset;
}

}  // namespace layout_probe

// Inside a test with `using Rec = <record type>;`.
#define EXPECT_FIELD_AT(field, offset) layout_probe::expectFieldAt(&Rec::field, offset, #field)
#define EXPECT_HEADER_AT_START()   \
    EXPECT_FIELD_AT(ver_maj, 0);   \
    EXPECT_FIELD_AT(ver_min, 2);   \
    EXPECT_FIELD_AT(flags, 4)
