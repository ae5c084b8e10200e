#ifndef VN_CLASS_STACKBUFFER_H
#define VN_CLASS_STACKBUFFER_H

#include <cstddef>
#include <vector>

// A fixed ring of n pre-built slots that keeps the newest elements. Elements
// are numbered by age: 0 is the oldest, length() - 1 the newest. Slots are made
// once and never reset; add() hands out a slot that still holds whatever was
// written into it last, and the caller overwrites what it needs. Pointers stay
// valid until add() hands the same slot out again.
template <class T>
class stackbuffer
{
public:
    explicit stackbuffer(unsigned n)
        : buffer(n, T()), _length(0), _kindex(0), _lindex(-1), _size(n)
    {
        clear();
    }
    virtual ~stackbuffer() {}

    // Forgets every element; the slots keep their contents.
    void clear()
    {
        _length = 0;
        _kindex = 0;
        _lindex = -1;
    }

    // The slot for a new newest element (null when the capacity is 0). On a
    // full ring the oldest element is given up.
    T* add()
    {
        if (_size == 0)
            return nullptr;
        if (full())
        {
            ++_kindex;
            if (_kindex >= _size)
                _kindex = 0;
        }
        else
            ++_length;
        // One step on, modulo the capacity (no division for it).
        size_t next = static_cast<size_t>(_lindex + 1);
        if (next >= _size)
            next = 0;
        _lindex = static_cast<int>(next);
        return &buffer[static_cast<size_t>(_lindex)];
    }

    // The element of age u; null when u is not below size(). Callers keep u
    // below length().
    T* peek(unsigned u) { return cvtgetindex(u); }
    const T* peek(unsigned u) const { return cvtgetindex(u); }

    bool full() const { return static_cast<size_t>(_length) == _size; }
    int length() const { return _length; }
    size_t size() const { return _size; }

private:
    T* cvtgetindex(unsigned u) const
    {
        if (u >= _size)
            return nullptr;
        size_t slot = _kindex + u;
        if (slot >= static_cast<size_t>(_length))
            slot -= static_cast<size_t>(_length);
        return const_cast<T*>(&buffer[slot]);
    }

    std::vector<T> buffer;
    int _length;
    size_t _kindex;
    int _lindex;
    size_t _size;
};

#endif
