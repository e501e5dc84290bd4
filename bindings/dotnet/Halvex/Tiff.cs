// Just enough of TIFF to find the pixels of a downloaded frame: little- or big-endian, the first
// directory's strip offset and byte count. Anything else is refused with a clear error.
using System;
using System.Buffers.Binary;

namespace Halvex
{
    internal static class Tiff
    {
        const ushort StripOffsetsTag = 273, StripByteCountsTag = 279;

        internal static bool IsTiff(ReadOnlySpan<byte> data) =>
            data.Length >= 8 && ((data[0] == 'I' && data[1] == 'I' && data[2] == 42 && data[3] == 0) ||
                                 (data[0] == 'M' && data[1] == 'M' && data[2] == 0 && data[3] == 42));

        internal static int StripOffset(ReadOnlySpan<byte> data) => Tag(data, StripOffsetsTag);

        internal static int StripLength(ReadOnlySpan<byte> data)
        {
            int offset = StripOffset(data), length = Tag(data, StripByteCountsTag);
            if (offset + length > data.Length)
                throw new FormatException("the TIFF strip reaches beyond the received bytes");
            return length;
        }

        static int Tag(ReadOnlySpan<byte> data, ushort wanted)
        {
            if (!IsTiff(data))
                throw new FormatException("not a TIFF file");
            bool little = data[0] == 'I';
            uint directory = U32(data, 4, little);
            if (directory + 2 > (uint)data.Length)
                throw new FormatException("the TIFF directory lies beyond the received bytes");
            int entries = U16(data, (int)directory, little);
            for (int i = 0; i < entries; i++) {
                int entry = (int)directory + 2 + 12 * i;
                if (entry + 12 > data.Length)
                    throw new FormatException("the TIFF directory is cut short");
                if (U16(data, entry, little) != wanted)
                    continue;
                ushort type = U16(data, entry + 2, little);
                uint value = type == 3 ? U16(data, entry + 8, little) : U32(data, entry + 8, little);
                if (value > int.MaxValue)
                    throw new FormatException("a TIFF offset out of range");
                return (int)value;
            }
            throw new FormatException("the TIFF file has no tag " + wanted);
        }

        static ushort U16(ReadOnlySpan<byte> data, int at, bool little) =>
            little ? BinaryPrimitives.ReadUInt16LittleEndian(data.Slice(at)) : BinaryPrimitives.ReadUInt16BigEndian(data.Slice(at));

        static uint U32(ReadOnlySpan<byte> data, int at, bool little) =>
            little ? BinaryPrimitives.ReadUInt32LittleEndian(data.Slice(at)) : BinaryPrimitives.ReadUInt32BigEndian(data.Slice(at));
    }
}
