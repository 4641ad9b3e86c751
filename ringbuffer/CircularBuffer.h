#pragma once
// TCircularBuffer: fixed-capacity ring of recent measurement values with the statistics the
// batch filter needs (mean, population standard deviation, first maximum and minimum) and a
// cursor that the filter and the gauge walk and delete by.
//
// Two instantiations are used: float, and 32-bit signed integers for the raw correlation
// values. The integer one is TCircularBuffer<int32_t> (alias TLongCircularBuffer): `long` is
// 64-bit on 64-bit Linux, and the values are 32-bit.
//
// All slots live in one array allocated by the constructor; no operation allocates afterwards.
// The buffer is used from one thread only.

#include <cmath>
#include <cstdint>
#include <memory>
#include <type_traits>

template <typename T>
class TCircularBuffer {
    static_assert(std::is_arithmetic_v<T>, "TCircularBuffer holds numbers");

public:
    // A capacity below 1 is taken as 1: a ring needs a slot to write to.
    explicit TCircularBuffer(int32_t capacity)
        : FData(new T[capacity < 1 ? 1 : capacity]), FCapacity(capacity < 1 ? 1 : capacity)
    {
        Reset();
    }
    TCircularBuffer(const TCircularBuffer &) = delete;
    TCircularBuffer &operator=(const TCircularBuffer &) = delete;

    // Zeroes every slot and empties the buffer; the cursor keeps its value.
    void Reset()
    {
        for (int32_t i = 0; i < FCapacity; ++i)
            FData[i] = T(0);
        FCount = 0;
        FHead = 0;
    }

    // Writes at the head, overwriting the oldest value once full. True when the head has just
    // wrapped back to slot 0.
    bool Push(T value)
    {
        FData[FHead] = value;
        ++FHead;
        if (FCount < FCapacity)
            ++FCount;
        if (FHead == FCapacity) {
            FHead = 0;
            return true;
        }
        return false;
    }

    // Sum in double precision; the integer buffer truncates the quotient toward zero, the float
    // one rounds it to float.
    T Mean() const
    {
        if (FCount == 0)
            return T(0);
        double sum = 0.0;
        for (int32_t i = 0; i < FCount; ++i)
            sum += static_cast<double>(FData[i]);
        return static_cast<T>(sum / FCount);
    }

    // Population standard deviation (divisor FCount) around the mean as Mean() returns it.
    float StdDev() const
    {
        if (FCount == 0)
            return 0.0f;
        const double m = static_cast<double>(static_cast<float>(Mean()));
        double sum = 0.0;
        for (int32_t i = 0; i < FCount; ++i) {
            const double d = static_cast<double>(FData[i]) - m;
            sum += d * d;
        }
        return static_cast<float>(std::sqrt(sum / FCount));
    }

    // Largest value; the cursor goes to its first position. Empty: 0, cursor untouched.
    T Max()
    {
        if (FCount == 0)
            return T(0);
        int32_t best = 0;
        for (int32_t i = 1; i < FCount; ++i)
            if (FData[i] > FData[best])
                best = i;
        FCursor = best;
        return FData[best];
    }

    // Smallest value; the cursor goes to its first position. Empty: 0, cursor untouched.
    T Min()
    {
        if (FCount == 0)
            return T(0);
        int32_t best = 0;
        for (int32_t i = 1; i < FCount; ++i)
            if (FData[i] < FData[best])
                best = i;
        FCursor = best;
        return FData[best];
    }

    T SeekNewest()
    {
        FCursor = FHead - 1;
        if (FCursor < 0)
            FCursor += FCapacity;
        return FData[FCursor];
    }

    T SeekOldest()
    {
        FCursor = FHead - FCount;
        if (FCursor < 0)
            FCursor += FCapacity;
        return FData[FCursor];
    }

    T Next()
    {
        ++FCursor;
        if (FCursor >= FCapacity)
            FCursor -= FCapacity;
        return FData[FCursor];
    }

    // Deletes the value at the cursor, closing the gap from above, and steps the cursor back so
    // that Next() reads the value that moved into its place. Returns the position deleted; 0 and
    // no change on an empty buffer. A cursor outside the slots (-1 right after deleting
    // position 0) deletes nothing and is returned as it is.
    int32_t RemoveAtCursor()
    {
        const int32_t p = FCursor;
        if (FCount < 1)
            return 0;
        if (p < 0 || p >= FCapacity)
            return p;
        --FCount;
        for (int32_t j = p; j < FCount; ++j)
            FData[j] = FData[j + 1];
        --FCursor;
        StepHeadBack();
        return p;
    }

    // Deletes the value at position p (0 = oldest of a buffer that has not wrapped); a cursor at
    // or above p steps back with the values. Positions outside 0 .. Count()-1 change nothing.
    void RemoveAt(int32_t p)
    {
        if (FCount < 1 || p < 0 || p >= FCount)
            return;
        --FCount;
        for (int32_t j = p; j < FCount; ++j)
            FData[j] = FData[j + 1];
        if (FCursor >= p)
            --FCursor;
        StepHeadBack();
    }

    int32_t Count() const { return FCount; }
    int32_t Capacity() const { return FCapacity; }
    int32_t Head() const { return FHead; }
    int32_t Cursor() const { return FCursor; }
    // Slot i, 0 .. Capacity()-1.
    T At(int32_t i) const { return FData[i]; }
    // Only positions -1 .. Capacity()-1 are taken (-1 makes Next() read slot 0); others are ignored.
    void SetCursor(int32_t position)
    {
        if (position >= -1 && position < FCapacity)
            FCursor = position;
    }

private:
    void StepHeadBack()
    {
        FHead = FHead == 0 ? FCapacity - 1 : FHead - 1;
    }

    int32_t FHead = 0;
    int32_t FCursor = 0;
    std::unique_ptr<T[]> FData;
    int32_t FCapacity = 0;
    int32_t FCount = 0;
};

