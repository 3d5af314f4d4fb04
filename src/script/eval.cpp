#include "script/eval.h"

#include <sys/random.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "platform/report.h"
#include "config/shellvar.h"

namespace {

constexpr size_t kMaxToken = 31;     // longest token the evaluator accepts
constexpr size_t kMaxTarget = 15;    // longest assignment target name
constexpr int kMaxNesting = 200;     // parentheses and calls, keeps the stack bounded

enum class Tok { None, Delim, Dec, Hex, Name };

const char kDelims[] = "+-*/%^(),=&|<>~";

// One evaluation: input, current token, output form and the first error.
struct Lexer {
    std::string in;
    size_t pos = 0;
    std::string tok;
    Tok kind = Tok::None;
    int error = 0;
    int nesting = 0;

    void Raise(int code) {
        if (error) return;
        error = code;
        OxelMessageBox("Expression Evaluator Error", "%s", EvalErrorText(code));
    }
    void SkipBlanks() {
        while (pos < in.size() && (in[pos] == ' ' || in[pos] == '\t')) pos++;
    }
    char Peek() const { return pos < in.size() ? in[pos] : 0; }
    bool Is(char c) const { return kind == Tok::Delim && tok[0] == c; }

    void Next() {
        tok.clear();
        kind = Tok::None;
        if (error) return;
        SkipBlanks();
        if (pos >= in.size()) return;
        char c = in[pos];
        auto take = [&](auto accept) {
            while (pos < in.size() && accept(static_cast<unsigned char>(in[pos]))) tok += in[pos++];
        };
        if (std::strchr(kDelims, c)) {
            tok = c;
            pos++;
            kind = Tok::Delim;
        } else if (c == '0' && pos + 1 < in.size() && in[pos + 1] == 'x') {
            tok = "0x";
            pos += 2;
            take([](unsigned char ch) { return std::isdigit(ch) || (ch >= 'a' && ch <= 'f'); });
            kind = Tok::Hex;
        } else if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') {
            take([](unsigned char ch) { return std::isdigit(ch) || ch == '.'; });
            kind = Tok::Dec;
        } else if (std::isalpha(static_cast<unsigned char>(c))) {
            take([](unsigned char ch) { return std::isalnum(ch) != 0; });
            kind = Tok::Name;
        } else {
            pos++;
            Raise(EVAL_SYNTAX);
            return;
        }
        // The token buffer is fixed; a longer token is refused, never cut.
        if (tok.size() > kMaxToken) {
            Raise(EVAL_SYNTAX);
            tok.clear();
            kind = Tok::None;
            return;
        }
        SkipBlanks();
    }
};

uint64_t RandomWord() {
    uint32_t v = 0;
    if (getrandom(&v, sizeof v, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof v)) return v;
    static std::once_flag seeded;
    std::call_once(seeded, [] { std::srand(static_cast<unsigned>(std::time(nullptr))); });
    return static_cast<uint32_t>(std::rand());
}

// ---- Integer evaluator -------------------------------------------------

struct IntEval {
    Lexer lx;
    const char* format = "%d";

    uint32_t Statement();
    uint32_t Additive();
    uint32_t Multiplicative();
    uint32_t Power();
    uint32_t Unary();
    uint32_t Primary();
    uint32_t Call(const std::string& name);
};

// A name directly followed by "=" assigns; "name=" alone removes the variable.
template <typename Eval, typename Value, typename Store>
Value AssignOr(Eval& ev, Store store) {
    Lexer& lx = ev.lx;
    if (lx.kind == Tok::Name && lx.Peek() == '=') {
        std::string name = lx.tok;
        if (name.size() > kMaxTarget) {
            lx.Raise(EVAL_SYNTAX);
            return Value{};
        }
        lx.Next();  // "="
        lx.Next();
        if (lx.error) return Value{};
        if (lx.kind == Tok::None) {
            shell_setenv(name.c_str(), nullptr);
            return Value{};
        }
        Value v = ev.Additive();
        if (!lx.error) store(name, v);
        return v;
    }
    return ev.Additive();
}

uint32_t IntEval::Statement() {
    return AssignOr<IntEval, uint32_t>(*this, [](const std::string& name, uint32_t v) {
        shell_sprintf(name.c_str(), "%u", v);
    });
}

uint32_t IntEval::Additive() {
    uint32_t v = Multiplicative();
    while (!lx.error && lx.kind == Tok::Delim && std::strchr("+-&|<>", lx.tok[0])) {
        char op = lx.tok[0];
        lx.Next();
        uint32_t r = Multiplicative();
        if (lx.error) break;
        switch (op) {
            case '+': v += r; break;
            case '-': v -= r; break;
            case '&': v &= r; break;
            case '|': v |= r; break;
            case '>': v >>= (r % 32); break;
            case '<': v <<= (r % 32); break;
        }
    }
    return v;
}

uint32_t IntEval::Multiplicative() {
    uint32_t v = Power();
    while (!lx.error && lx.kind == Tok::Delim && std::strchr("*/%", lx.tok[0])) {
        char op = lx.tok[0];
        lx.Next();
        uint32_t r = Power();
        if (lx.error) break;
        if (op == '*') {
            v *= r;
        } else if (r == 0) {
            lx.Raise(EVAL_DIVZERO);
        } else {
            v = op == '/' ? v / r : v % r;
        }
    }
    return v;
}

uint32_t IntEval::Power() {
    uint32_t base = Unary();
    if (lx.error || !lx.Is('^')) return base;
    lx.Next();
    int32_t count = static_cast<int32_t>(Unary());
    if (lx.error) return 0;
    // Repeated multiplication modulo 2^32, done by squaring.
    uint32_t result = 1;
    for (uint32_t n = count > 0 ? static_cast<uint32_t>(count) : 0; n; n >>= 1) {
        if (n & 1) result *= base;
        base *= base;
    }
    return result;
}

uint32_t IntEval::Unary() {
    if (lx.kind == Tok::Delim && std::strchr("+-~", lx.tok[0])) {
        char op = lx.tok[0];
        lx.Next();
        uint32_t v = Primary();
        return op == '-' ? 0u - v : op == '~' ? ~v : v;
    }
    return Primary();
}

uint32_t DecimalWrap(const std::string& tok) {
    uint32_t v = 0;
    for (char c : tok) {
        if (!std::isdigit(static_cast<unsigned char>(c))) break;
        v = v * 10 + static_cast<uint32_t>(c - '0');
    }
    return v;
}

uint32_t HexWrap(const std::string& tok) {
    uint32_t v = 0;
    for (size_t i = 2; i < tok.size(); i++) {
        char c = tok[i];
        v = v * 16 + static_cast<uint32_t>(std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : c - 'a' + 10);
    }
    return v;
}

// "(" statement ")", with ")" at once meaning an empty argument list.
template <typename Eval, typename Value>
Value Parenthesised(Eval& ev) {
    Lexer& lx = ev.lx;
    lx.Next();
    if (lx.Is(')')) {
        lx.Raise(EVAL_NO_ARGS);
        return Value{};
    }
    if (++lx.nesting > kMaxNesting) {
        lx.Raise(EVAL_SYNTAX);
        return Value{};
    }
    Value v = ev.Statement();
    lx.nesting--;
    if (lx.error) return v;
    if (!lx.Is(')')) {
        lx.Raise(EVAL_UNBALANCED);
        return v;
    }
    lx.Next();
    return v;
}

// Reads up to four comma-separated arguments after "name(".
template <typename Eval, typename Value>
int CallArgs(Eval& ev, Value* args) {
    Lexer& lx = ev.lx;
    lx.Next();  // "("
    lx.Next();
    int n = 0;
    if (lx.Is(')')) {
        lx.Next();
        return 0;
    }
    if (++lx.nesting > kMaxNesting) {
        lx.Raise(EVAL_SYNTAX);
        return 0;
    }
    while (!lx.error) {
        if (lx.Is(',')) {
            lx.Raise(EVAL_NO_ARGS);
            break;
        }
        args[n++] = ev.Statement();
        if (lx.error || !lx.Is(',') || n == 4) break;
        lx.Next();
    }
    lx.nesting--;
    if (lx.error) return n;
    if (!lx.Is(')')) {
        lx.Raise(EVAL_UNBALANCED);
        return n;
    }
    lx.Next();
    return n;
}

uint32_t IntEval::Call(const std::string& name) {
    struct Fn {
        const char* name;
        int args;
        const char* format;  // null: output form unchanged
    };
    static const Fn table[] = {
        {"hex", 1, "0x%x"}, {"hex0", 1, "%x"}, {"hex2", 1, "%02x"}, {"hex4", 1, "%04x"},
        {"hex8", 1, "%08x"}, {"abs", 1, nullptr}, {"rand", 0, nullptr},
    };
    const Fn* fn = nullptr;
    for (const auto& f : table)
        if (name == f.name) fn = &f;
    if (!fn) {
        lx.Raise(EVAL_UNKNOWN_FUNC);
        return 0;
    }
    uint32_t args[4] = {};
    int n = CallArgs<IntEval, uint32_t>(*this, args);
    if (lx.error) return 0;
    if (n != fn->args) {
        lx.Raise(EVAL_ARGCOUNT);
        return 0;
    }
    if (fn->format) format = fn->format;
    if (name == "abs") {
        int32_t s = static_cast<int32_t>(args[0]);
        return s < 0 ? 0u - args[0] : args[0];
    }
    if (name == "rand") return static_cast<uint32_t>(RandomWord() & 0xFFFFF);
    return args[0];
}

uint32_t IntEval::Primary() {
    if (lx.error) return 0;
    if (lx.Is('(')) return Parenthesised<IntEval, uint32_t>(*this);
    if (lx.kind == Tok::Dec) {
        uint32_t v = DecimalWrap(lx.tok);
        lx.Next();
        return v;
    }
    if (lx.kind == Tok::Hex) {
        uint32_t v = HexWrap(lx.tok);
        lx.Next();
        return v;
    }
    if (lx.kind == Tok::Name) {
        std::string name = lx.tok;
        if (lx.Peek() == '(') return Call(name);
        auto val = shell_getenv(name.c_str());
        if (!val) {
            lx.Raise(EVAL_UNKNOWN_VAR);
            return 0;
        }
        lx.Next();
        return static_cast<uint32_t>(EvalToInt32(val->c_str()));
    }
    lx.Raise(EVAL_SYNTAX);
    return 0;
}

// ---- Floating-point evaluator ------------------------------------------

struct FloatEval {
    Lexer lx;
    bool truncated = false;

    double Statement();
    double Additive();
    double Multiplicative();
    double Power();
    double Unary();
    double Primary();
    double Call(const std::string& name);
};

double FloatEval::Statement() {
    return AssignOr<FloatEval, double>(*this, [](const std::string& name, double v) {
        shell_sprintf(name.c_str(), "%f", v);
    });
}

double FloatEval::Additive() {
    double v = Multiplicative();
    while (!lx.error && (lx.Is('+') || lx.Is('-'))) {
        char op = lx.tok[0];
        lx.Next();
        double r = Multiplicative();
        if (lx.error) break;
        v = op == '+' ? v + r : v - r;
    }
    return v;
}

double FloatEval::Multiplicative() {
    double v = Power();
    while (!lx.error && (lx.Is('*') || lx.Is('/'))) {
        char op = lx.tok[0];
        lx.Next();
        double r = Power();
        if (lx.error) break;
        if (op == '*')
            v *= r;
        else if (r == 0.0)
            lx.Raise(EVAL_DIVZERO);
        else
            v /= r;
    }
    return v;
}

double FloatEval::Power() {
    double base = Unary();
    if (lx.error || !lx.Is('^')) return base;
    lx.Next();
    double e = Unary();
    if (lx.error) return 0;
    double t = std::trunc(e);
    if (!(t >= 1)) return 1;
    uint64_t n = t > 1e18 ? UINT64_C(1000000000000000000) : static_cast<uint64_t>(t);
    double result = 1;
    for (; n; n >>= 1) {
        if (n & 1) result *= base;
        base *= base;
    }
    return result;
}

double FloatEval::Unary() {
    if (lx.Is('+') || lx.Is('-')) {
        char op = lx.tok[0];
        lx.Next();
        double v = Primary();
        return op == '-' ? -v : v;
    }
    return Primary();
}

double FloatEval::Call(const std::string& name) {
    struct Fn {
        const char* name;
        int args;
    };
    static const Fn table[] = {{"fabs", 1}, {"rand", 0}, {"round", 1}, {"trunc", 1}};
    const Fn* fn = nullptr;
    for (const auto& f : table)
        if (name == f.name) fn = &f;
    if (!fn) {
        lx.Raise(EVAL_UNKNOWN_FUNC);
        return 0;
    }
    double args[4] = {};
    int n = CallArgs<FloatEval, double>(*this, args);
    if (lx.error) return 0;
    if (n != fn->args) {
        lx.Raise(EVAL_ARGCOUNT);
        return 0;
    }
    if (name == "fabs") return std::fabs(args[0]);
    if (name == "rand") return static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(RandomWord())));
    if (name == "round") return std::floor(args[0] + 0.5);
    truncated = true;
    return std::trunc(args[0]);
}

double FloatEval::Primary() {
    if (lx.error) return 0;
    if (lx.Is('(')) return Parenthesised<FloatEval, double>(*this);
    if (lx.kind == Tok::Dec) {
        double v = std::strtod(lx.tok.c_str(), nullptr);
        lx.Next();
        return v;
    }
    if (lx.kind == Tok::Name) {
        std::string name = lx.tok;
        if (lx.Peek() == '(') return Call(name);
        auto val = shell_getenv(name.c_str());
        if (!val) {
            lx.Raise(EVAL_UNKNOWN_VAR);
            return 0;
        }
        lx.Next();
        return std::strtod(val->c_str(), nullptr);
    }
    lx.Raise(EVAL_SYNTAX);
    return 0;
}

// Shared frame: lower-case, refuse an empty expression, parse one statement,
// and treat anything left over as an unknown reference.
template <typename Eval>
auto Run(Eval& ev, const std::string& expr) {
    ev.lx.in = expr;
    for (char& c : ev.lx.in) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    ev.lx.Next();
    if (!ev.lx.error && ev.lx.kind == Tok::None) ev.lx.Raise(EVAL_EMPTY);
    if (ev.lx.error) return decltype(ev.Statement()){};
    auto v = ev.Statement();
    if (!ev.lx.error && ev.lx.kind != Tok::None) ev.lx.Raise(EVAL_UNKNOWN_VAR);
    return v;
}

std::string Format(const char* fmt, long long v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

}  // namespace

const char* EvalErrorText(int code) {
    static const char* const texts[] = {
        "",
        "Syntax error",
        "Unbalanced parenthesis",
        "Attempted division by zero",
        "Reference to unknown variable",
        "Maximum variables exceeded",
        "Unrecognised function",
        "Wrong number of arguments to funtion",
        "No args specified for function",
        "Empty expression",
        "Operation not supported",
    };
    if (code < 1 || code > 10) return "???";
    return texts[code];
}

int32_t EvalToInt32(const char* text, int base) {
    if (!text) return 0;
    errno = 0;
    long long v = std::strtoll(text, nullptr, base);
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

int EvalInteger(const std::string& expr, std::string& text, uint32_t* value) {
    IntEval ev;
    uint32_t v = Run(ev, expr);
    if (ev.lx.error) return ev.lx.error;
    char buf[32];
    if (std::string(ev.format) == "%d")
        std::snprintf(buf, sizeof buf, "%d", static_cast<int32_t>(v));
    else
        std::snprintf(buf, sizeof buf, ev.format, v);
    text = buf;
    if (value) *value = v;
    return 0;
}

int EvalFloat(const std::string& expr, std::string& text, double* value) {
    FloatEval ev;
    double v = Run(ev, expr);
    if (ev.lx.error) return ev.lx.error;
    if (ev.truncated) {
        double c = std::isnan(v) ? 0 : std::clamp(v, double(INT32_MIN), double(INT32_MAX));
        text = Format("%lld", static_cast<long long>(c));
    } else {
        char buf[512];
        std::snprintf(buf, sizeof buf, "%f", v);
        text = buf;
    }
    if (value) *value = v;
    return 0;
}

void EvalReset() {}
