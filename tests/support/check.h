#pragma once
// A small harness in the manner of Wine's conformance tests: every check
// names what it compared and prints both values when they differ. A test
// program runs each TEST in order and exits 1 when any check failed.
#include <map>
#include <sstream>
#include <string>
#include <vector>

using TestFunction = void (*)();
struct TestRegistration {
    TestRegistration(const char* name, TestFunction function);
};
#define TEST(name)                                               \
    static void name();                                          \
    static const TestRegistration name##Registered(#name, name); \
    static void name()

bool Report(bool passed, const char* file, int line, const std::string& message);
// Ends a test that cannot run on this machine, with the reason; the program
// then exits 77, which CTest shows as a skip.
void Skip(const std::string& reason);

std::string Show(const std::wstring& text);
inline std::string Show(const std::string& text) { return "\"" + text + "\""; }
inline std::string Show(const wchar_t* text) { return Show(std::wstring(text)); }
inline std::string Show(const char* text) { return Show(std::string(text)); }
template <class T>
std::string Show(const T& value) {
    std::ostringstream text;
    text << value;
    return text.str();
}
template <class T>
std::string Show(const std::vector<T>& items) {
    std::string text = "{";
    for (const T& item : items) text += "\n    " + Show(item);
    return text + "}";
}

template <class K, class V>
std::string Show(const std::map<K, V>& items) {
    std::string text = "{";
    for (const auto& [key, value] : items)
        text += "\n    " + Show(key) + ": " + Show(value).substr(0, 80);
    return text + "}";
}

// A label printed with every failure while it lives, for table rows.
struct Context {
    template <class T>
    explicit Context(const T& label) {
        Labels().push_back(Show(label));
    }
    ~Context() { Labels().pop_back(); }
    static std::vector<std::string>& Labels();
};

template <class A, class B>
bool CheckEqual(const A& expected, const B& actual, const char* file, int line, const char* what) {
    return Report(
        expected == actual, file, line,
        std::string(what) + "\n  expected: " + Show(expected) + "\n  actual:   " + Show(actual));
}

#define CHECK(condition) Report((condition), __FILE__, __LINE__, #condition)
#define CHECK_EQ(expected, actual) CheckEqual((expected), (actual), __FILE__, __LINE__, #actual)
#define REQUIRE(condition)             \
    do {                               \
        if (!CHECK(condition)) return; \
    } while (0)  // ends the test at once
