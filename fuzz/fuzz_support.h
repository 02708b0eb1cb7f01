// Shared by the fuzz harnesses: turns the fuzzer's bytes into host arrays (every class and shape a
// caller can pass, valid compressed-sparse-column contents with awkward values) and checks what a
// call through the stand-in host left behind. A broken promise aborts, which the fuzzer records.
#pragma once

#include "bits.h"
#include "standin.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

namespace fuzz {

// Reads the input front to back; once it is used up every read gives zeros, so any input is a
// complete description of a call.
class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }

    uint64_t bits(int nbytes)
    {
        uint64_t v = 0;
        for (int i = 0; i < nbytes; ++i) v = (v << 8) | byte();
        return v;
    }

    // A number in [0, n); 0 when n is 0.
    uint64_t below(uint64_t n) { return n == 0 ? 0 : bits(n <= 256 ? 1 : n <= 65536 ? 2 : 8) % n; }

    // True with probability about percent / 100.
    bool chance(unsigned percent) { return byte() * 100u < percent * 256u; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// Values that sit on the edges of double arithmetic: signed zeros, NaNs of both signs, infinities,
// subnormals, the ends of the normal range and the points where squaring overflows or underflows.
inline double special_value(uint8_t pick)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double table[] = {
        0.0, -0.0, std::nan(""), -std::nan(""), inf, -inf,
        std::numeric_limits<double>::denorm_min(), 0x1p-1060, 0x1.8p-1030,
        std::numeric_limits<double>::min(), 0x1p-969, 1e-162, 1e-200,
        std::numeric_limits<double>::max(), 0x1p1023, 1.5e154, 1e200, 3e160,
        1.0, 0.5, 2.0, 0.25, 3.0, 1e-8, 1e8, 1.0 + 0x1p-52, 1.0 - 0x1p-53,
        std::numeric_limits<double>::epsilon(),
    };
    return table[pick % (sizeof table / sizeof table[0])];
}

// Any double: a special one, a raw bit pattern, a small multiple of 1/4 (so that magnitudes
// repeat), or a mantissa scaled anywhere in the exponent range.
inline double any_double(ByteReader& in)
{
    const uint8_t how = in.byte() % 8;
    switch (how) {
    case 0:
    case 1: return special_value(in.byte());
    case 2: return from_bits(in.bits(8));
    case 3:
    case 4: return static_cast<int8_t>(in.byte()) / 4.0;
    default: {
        const double mantissa = 1.0 + static_cast<double>(in.bits(2)) / 65536.0;
        const int exponent = static_cast<int>(in.bits(2) % 2100) - 1075;
        const double x = std::ldexp(mantissa, exponent);
        return in.chance(50) ? -x : x;
    }
    }
}

// A compressed-sparse-column matrix as the host would hold it: column pointers from 0, not
// decreasing; row indices increasing within a column and below nrows; spare capacity beyond the
// stored entries holding junk that must never be read as data.
struct Csc {
    uint64_t nrows = 0, ncols = 0;
    std::vector<uint64_t> jc{0}, ir;
    std::vector<double> pr;
    uint64_t nnz() const { return jc.back(); }
};

constexpr uint64_t MOST_COLUMNS = 4096;
constexpr uint64_t MOST_ENTRIES = 4096;

inline uint64_t any_row_count(ByteReader& in)
{
    const uint8_t how = in.byte();
    if (how < 150) return how % 33;
    if (how < 210) return 1 + in.below(4096);
    if (how < 235) return 1 + in.below(uint64_t{1} << 22);
    // 2^23 rows and more: a row-sum array for all of them would pass HOST_MEMORY, so a call
    // that asks for memory in proportion to the rows is refused, and that refusal is a fault.
    return uint64_t{1} << (23 + in.byte() % 40);
}

inline uint64_t any_column_count(ByteReader& in)
{
    const uint8_t how = in.byte();
    if (how < 200) return how % 17;
    return in.below(MOST_COLUMNS + 1);
}

inline Csc any_csc(ByteReader& in)
{
    Csc m;
    m.nrows = any_row_count(in);
    m.ncols = any_column_count(in);
    // A few values that entries repeat, with either sign, so that equal magnitudes are common.
    std::vector<double> palette(1 + in.byte() % 6);
    for (double& v : palette) v = any_double(in);
    const uint8_t fill = in.byte();
    for (uint64_t j = 0; j < m.ncols; ++j) {
        uint64_t count = m.nrows == 0 ? 0 : in.byte() % (fill % 9 + 1);
        if (fill == 255) count = m.nrows;  // full columns
        uint64_t row = 0;
        for (uint64_t t = 0; t < count && m.pr.size() < MOST_ENTRIES; ++t) {
            uint64_t gap = in.byte();
            if (gap == 255) gap = in.below(m.nrows);
            if (gap < 240) gap %= 4;
            if (row + gap >= m.nrows || row + gap < row) break;
            row += gap;
            m.ir.push_back(row);
            const uint8_t source = in.byte();
            double x = source < 160 ? palette[source % palette.size()] : any_double(in);
            if (source & 1) x = -x;
            m.pr.push_back(x);
            if (++row == 0 || row >= m.nrows) break;
        }
        m.jc.push_back(m.pr.size());
    }
    for (uint8_t spare = in.byte() % 4; spare > 0; --spare) {
        m.ir.push_back(~uint64_t{0} - spare);
        m.pr.push_back(std::nan(""));
    }
    return m;
}

inline standin::Array to_array(const Csc& m, mxClassID class_id = mxDOUBLE_CLASS,
                               bool complex = false)
{
    return standin::sparse_of_class(class_id, complex, m.nrows, m.ncols, m.jc, m.ir, m.pr);
}

// Integer classes take values that fit them exactly (a stand-in builder converts by value).
inline double integer_for_class(mxClassID c, ByteReader& in)
{
    const uint64_t raw = in.bits(in.chance(70) ? 1 : 8);
    switch (c) {
    case mxINT8_CLASS: return static_cast<int8_t>(raw);
    case mxUINT8_CLASS: return static_cast<uint8_t>(raw);
    case mxINT16_CLASS: return static_cast<int16_t>(raw);
    case mxUINT16_CLASS: return static_cast<uint16_t>(raw);
    case mxINT32_CLASS: return static_cast<int32_t>(raw);
    case mxUINT32_CLASS: return static_cast<uint32_t>(raw);
    case mxINT64_CLASS: return static_cast<double>(static_cast<int64_t>(raw) >> 11);
    default: return static_cast<double>(raw >> 11);
    }
}

inline mxClassID numeric_class(ByteReader& in)
{
    const mxClassID classes[] = {mxDOUBLE_CLASS, mxSINGLE_CLASS, mxINT8_CLASS,  mxUINT8_CLASS,
                                 mxINT16_CLASS,  mxUINT16_CLASS, mxINT32_CLASS, mxUINT32_CLASS,
                                 mxINT64_CLASS,  mxUINT64_CLASS, mxLOGICAL_CLASS};
    return classes[in.byte() % 11];
}

inline double value_for_class(mxClassID c, ByteReader& in)
{
    if (c == mxDOUBLE_CLASS || c == mxSINGLE_CLASS) return any_double(in);
    if (c == mxLOGICAL_CLASS) return in.byte() & 1;
    return integer_for_class(c, in);
}

// A full numeric or logical array of 1 to 3 by 1 to 3 elements, the first one given.
inline standin::Array full_with_first(mxClassID c, ByteReader& in, double first)
{
    const size_t m = 1 + in.byte() % 3, n = 1 + in.byte() % 3;
    std::vector<double> values{first};
    for (size_t k = 1; k < m * n; ++k) values.push_back(value_for_class(c, in));
    const bool complex = c != mxLOGICAL_CLASS && in.chance(10);
    return standin::full(c, {m, n}, values, complex);
}

inline std::string any_text(ByteReader& in, size_t length)
{
    static const char alphabet[] = "froinfFROINF1 \0xa\x80\xe9\xff";
    std::string s;
    for (size_t k = 0; k < length; ++k) s += alphabet[in.byte() % (sizeof alphabet - 1)];
    return s;
}

// What an argument is built as. The first few are what a position usually expects.
enum ArgShape : uint8_t {
    SPARSE_DOUBLE, KIND, NUMBER, SPARSE_COMPLEX, SPARSE_LOGICAL, SPARSE_OTHER, FULL_NUMERIC,
    TEXT_ROWS, TEXT_WIDE, OPAQUE, EMPTY, MANY_DIMENSIONS, NSHAPES
};

// Owns the arrays built for one call and remembers the matrix built for the first input.
struct Arguments {
    std::vector<standin::Array> owned;
    std::vector<const mxArray*> inputs;
    Csc matrix;               // contents of the last SPARSE_DOUBLE built
    int intended_kind = -1;   // the norm kind the last KIND argument was meant to select, or -1
    double number_read = 0;   // the first element, by value, of the last NUMBER argument

    const mxArray* keep(standin::Array a)
    {
        owned.push_back(std::move(a));
        return owned.back().get();
    }
};

// The norm kind as a caller may write it: the texts, the number 1 in any class, as a vector
// whose first element is 1 or as a sparse 1; now and then a near miss.
inline const mxArray* kind_argument(ByteReader& in, Arguments& args)
{
    const uint8_t how = in.byte() % 14;
    switch (how) {
    case 0: case 1: args.intended_kind = 0; return args.keep(standin::text("fro"));
    case 2: case 3: args.intended_kind = 2; return args.keep(standin::text("inf"));
    case 4: case 5: args.intended_kind = 1; return args.keep(standin::scalar(1.0));
    case 6: {
        const mxClassID c = numeric_class(in);
        args.intended_kind = 1;
        return args.keep(full_with_first(c, in, 1.0));
    }
    case 7: {
        args.intended_kind = 1;
        const mxClassID c = in.chance(50) ? mxDOUBLE_CLASS : mxLOGICAL_CLASS;
        const uint64_t nrows = 1 + in.byte() % 3, ncols = 1 + in.byte() % 3;
        std::vector<uint64_t> jc(ncols + 1, 1);
        jc[0] = 0;
        return args.keep(standin::sparse_of_class(c, false, nrows, ncols, jc, {0}, {1.0}));
    }
    case 8: return args.keep(standin::scalar(special_value(in.byte())));
    case 9: return args.keep(standin::text(any_text(in, in.byte() % 6)));
    case 10: return args.keep(standin::text_rows({"fro", any_text(in, 3)}));
    case 12: {
        // MATLAB's string object: a 1-by-1 one is read like the text it holds.
        const std::string text = in.chance(60) ? (in.chance(50) ? "fro" : "inf") : any_text(in, 3);
        if (text == "fro") args.intended_kind = 0;
        if (text == "inf") args.intended_kind = 2;
        return args.keep(standin::string_scalar(text));
    }
    case 13: {
        const size_t n = in.chance(50) ? 0 : 2;
        return args.keep(standin::string_object(std::vector<std::string>(n, "fro"), {1, n}));
    }
    default: return args.keep(standin::text(in.chance(50) ? "Inf" : "1"));
    }
}

// tol or ratio: any double, now and then of another numeric class or shape. Records the value
// the first element holds once stored in that class.
inline const mxArray* number_argument(ByteReader& in, Arguments& args, double value)
{
    args.number_read = value;
    if (in.chance(80)) return args.keep(standin::scalar(value));
    const mxClassID c = numeric_class(in);
    if (c == mxDOUBLE_CLASS || c == mxSINGLE_CLASS) {
        if (c == mxSINGLE_CLASS) args.number_read = static_cast<float>(value);
        return args.keep(full_with_first(c, in, value));
    }
    if (in.chance(30)) {
        // A sparse number: its first element is the stored value only when that sits at (0, 0).
        const bool logical = c == mxLOGICAL_CLASS;
        const double x = logical ? 1.0 : value;
        const uint64_t nrows = 1 + in.byte() % 2, row = in.byte() % nrows;
        args.number_read = row == 0 ? x : 0.0;
        return args.keep(standin::sparse_of_class(logical ? c : mxDOUBLE_CLASS, false, nrows, 1,
                                                  {0, 1}, {row}, {x}));
    }
    args.number_read = value_for_class(c, in);
    return args.keep(full_with_first(c, in, args.number_read));
}

inline const mxArray* any_argument(ByteReader& in, Arguments& args, ArgShape shape, double number)
{
    switch (shape) {
    case SPARSE_DOUBLE:
        args.matrix = any_csc(in);
        return args.keep(to_array(args.matrix));
    case KIND: return kind_argument(in, args);
    case NUMBER: return number_argument(in, args, number);
    case SPARSE_COMPLEX: return args.keep(to_array(any_csc(in), mxDOUBLE_CLASS, true));
    case SPARSE_LOGICAL: return args.keep(to_array(any_csc(in), mxLOGICAL_CLASS));
    case SPARSE_OTHER: {
        // Hosts hold sparse double and logical only; a sparse single still must be refused.
        return args.keep(to_array(any_csc(in), mxSINGLE_CLASS, in.chance(30)));
    }
    case FULL_NUMERIC: {
        const mxClassID c = numeric_class(in);
        return args.keep(full_with_first(c, in, value_for_class(c, in)));
    }
    case TEXT_ROWS: {
        const size_t rows = in.byte() % 4, length = in.byte() % 5;
        std::vector<std::string> text;
        for (size_t r = 0; r < rows; ++r) text.push_back(any_text(in, length));
        return args.keep(standin::text_rows(text));
    }
    case TEXT_WIDE: {
        std::vector<mxChar> chars(in.byte() % 5);
        for (mxChar& c : chars) c = in.chance(50) ? static_cast<mxChar>("fro"[in.byte() % 3]) : static_cast<mxChar>(in.bits(2));
        return args.keep(standin::text_utf16(chars));
    }
    case OPAQUE: {
        const mxClassID classes[] = {mxCELL_CLASS, mxSTRUCT_CLASS, mxFUNCTION_CLASS};
        return args.keep(standin::opaque(classes[in.byte() % 3]));
    }
    case EMPTY: {
        const size_t m = in.byte() % 3, n = m == 0 ? in.byte() % 3 : 0;
        if (in.chance(40)) {
            Csc e;
            e.nrows = m;
            e.ncols = n;
            e.jc.assign(n + 1, 0);
            return args.keep(to_array(e, in.chance(70) ? mxDOUBLE_CLASS : mxLOGICAL_CLASS));
        }
        if (in.chance(30)) return args.keep(standin::text_rows(std::vector<std::string>(m)));
        return args.keep(standin::full(numeric_class(in), {m, n}, {}));
    }
    default: {
        // Three or four dimensions; a sparse one keeps its column count, as the host requires.
        const size_t pages = 2 + in.byte() % 3;
        if (in.chance(60)) {
            args.matrix = any_csc(in);
            standin::Array a = to_array(args.matrix);
            std::vector<size_t> dims{args.matrix.nrows, args.matrix.ncols, pages};
            if (in.chance(30)) dims.push_back(2);
            standin::set_dims(a.get(), dims);
            return args.keep(std::move(a));
        }
        const mxClassID c = numeric_class(in);
        const size_t m = 1 + in.byte() % 2, n = 1 + in.byte() % 2;
        std::vector<double> values(m * n * pages);
        for (double& v : values) v = value_for_class(c, in);
        return args.keep(standin::full(c, {m, n, pages}, values));
    }
    }
}

// Picks the shape of one argument: the expected one most of the time.
inline ArgShape pick_shape(ByteReader& in, ArgShape expected)
{
    const uint8_t b = in.byte();
    if (b < 200) return expected;
    return static_cast<ArgShape>(b % NSHAPES);
}

inline std::string hex(double x)
{
    char text[40];
    std::snprintf(text, sizeof text, "%a", x);
    return text;
}

// The first stored entries of a matrix in hexadecimal floating point, for a fault report.
inline std::string describe(const standin::SparseContents& a)
{
    std::string s = std::to_string(a.nrows) + "x" + std::to_string(a.ncols) + ", " +
                    std::to_string(a.pr.size()) + " stored:";
    char text[64];
    for (size_t k = 0; k < a.pr.size() && k < 24; ++k) {
        std::snprintf(text, sizeof text, " (%llu)%a", static_cast<unsigned long long>(a.ir[k]), a.pr[k]);
        s += text;
    }
    return s;
}

[[noreturn]] inline void fault(const std::string& what)
{
    std::fprintf(stderr, "\n*** broken promise: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

// messages: "identifier|message", as the extension raises them.
inline bool is_one_of(const standin::Outcome& out, const std::vector<std::string>& messages)
{
    const std::string raised = out.identifier + "|" + out.message;
    return std::find(messages.begin(), messages.end(), raised) != messages.end();
}

// What every call must leave behind, whatever it returned. `oom_expected`: the call was told to
// fail at an allocation it reached, so it must end with the host's out-of-memory error.
inline void check_outcome(const standin::Outcome& out, const std::vector<std::string>& messages,
                          bool oom_expected, long refused_before)
{
    if (out.wrote_past_slots) fault("stored something beyond the output slots");
    if (out.blocks_leaked != 0) fault("a block replaced in an array was never released");
    if (out.inputs_changed) fault("changed an input");
    // No call on these few entries needs a block near HOST_MEMORY, whatever its row count.
    if (standin::allocations_refused() != refused_before)
        fault("asked the host for a block beyond what the stored entries need");
    if (oom_expected) {
        // The host ends such a call itself and releases what it made; nothing else is promised.
        if (!out.failed || out.message != "Out of memory.")
            fault("an allocation failure did not end the call: " + out.message);
        return;
    }
    if (out.failed) {
        if (!is_one_of(out, messages))
            fault("unexpected error: " + out.identifier + " " + out.message);
        if (out.arrays_created != 0) fault("a refused call created an output first");
        if (out.scratch_left != 0) fault("a refused call did not release its scratch");
        return;
    }
    if (out.scratch_left != 0) fault("scratch left after a successful call");
    if (out.stray_arrays != 0) fault("an array was created but not returned");
}

// Once the call's inputs and outputs are gone, the host must hold nothing at all.
inline void check_nothing_alive()
{
    if (standin::live_arrays() != 0 || standin::live_blocks() != 0)
        fault("arrays or blocks outlived the call: " + std::to_string(standin::live_arrays()) +
              " arrays, " + std::to_string(standin::live_blocks()) + " blocks");
}

// The allocation that this call is told to fail at (0: none), from one byte.
inline long pick_failing_allocation(ByteReader& in)
{
    const uint8_t b = in.byte();
    return b < 224 ? 0 : 1 + b % 4;
}

// One call of fn, told (from one byte) to fail at an allocation or not, and checked for what
// every call must leave behind.
inline standin::Outcome checked_call(ByteReader& in, standin::MexFunction fn, int nlhs,
                                     const std::vector<const mxArray*>& inputs,
                                     const std::vector<std::string>& messages)
{
    const long fail_at = pick_failing_allocation(in);
    const long refused_before = standin::allocations_refused();
    standin::fail_allocation_at(fail_at);
    standin::Outcome out = standin::call(fn, nlhs, inputs);
    const bool oom_expected = fail_at > 0 && standin::allocations_requested() == fail_at;
    standin::fail_allocation_at(0);
    check_outcome(out, messages, oom_expected, refused_before);
    return out;
}

// A single block above this ends the call with "Out of memory.", as a host with this much free
// memory would; it keeps the harness well inside the fuzzer's own memory limit. The matrices
// hold at most MOST_ENTRIES entries and MOST_COLUMNS columns, so no call needs that much.
constexpr size_t HOST_MEMORY = size_t{64} << 20;

}  // namespace fuzz
