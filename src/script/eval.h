// The expression evaluators behind SET name=expression: unsigned 32-bit
// integers (wrapping) and doubles. Both read and assign shell variables.
#pragma once

#include <cstdint>
#include <string>

// Error codes; a failed evaluation has already shown its
// "Expression Evaluator Error" box.
enum EvalError : int {
    EVAL_OK = 0,
    EVAL_SYNTAX = 1,
    EVAL_UNBALANCED = 2,
    EVAL_DIVZERO = 3,
    EVAL_UNKNOWN_VAR = 4,
    EVAL_MAX_VARS = 5,
    EVAL_UNKNOWN_FUNC = 6,
    EVAL_ARGCOUNT = 7,
    EVAL_NO_ARGS = 8,
    EVAL_EMPTY = 9,
    EVAL_UNSUPPORTED = 10,
};

const char* EvalErrorText(int code);

// Integer evaluation: the expression is lower-cased, evaluated, and the result
// formatted ("%d" unless a hex function chose another form). Returns the error
// code (0 on success); value and text are set only on success.
int EvalInteger(const std::string& expr, std::string& text, uint32_t* value = nullptr);
// Floating-point evaluation ("%f", or "%d" after trunc()).
int EvalFloat(const std::string& expr, std::string& text, double* value = nullptr);

// The integer reading of a variable's text or an IF operand: base 0 follows
// the prefix (0x, leading 0 octal, decimal); out-of-range values saturate at
// the signed 32-bit limits; text without digits reads as 0.
int32_t EvalToInt32(const char* text, int base = 0);

// Evaluator state reset at start-up.
void EvalReset();
