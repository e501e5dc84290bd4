// Log labels: the "Class::operation" text that opens a log line, made by the compiler from the
// name its class declares once, so that a label names the class whose code runs and cannot go
// stale when code moves to another class.
//
//     class Poller {
//         HLV_LOG_CLASS(Poller);
//         ...
//     };
//     HLV_LOG("%s(%s): stopped", HLV_LABEL("stop"), name.c_str());   // "Poller::stop(...)"
//
// HLV_LABEL works wherever the class's members are in scope (its member functions, and lambdas
// inside them); its text is a constant with static storage, so it may be kept as a const char*.
#pragma once

#include <cstddef>

namespace halvex::thread {

// A text usable as a template argument.
template <std::size_t N>
struct LabelText {
    char text[N]{};

    constexpr LabelText(const char (&from)[N])
    {
        for (std::size_t i = 0; i < N; ++i)
            text[i] = from[i];
    }
};

// "Owner::operation" as one NUL-terminated array.
template <LabelText Owner, LabelText Operation>
struct Label {
    static constexpr std::size_t OWNER = sizeof(Owner.text) - 1;
    static constexpr std::size_t OPERATION = sizeof(Operation.text) - 1;

    static constexpr auto make()
    {
        struct Text {
            char text[OWNER + 2 + OPERATION + 1]{};
        } label{};
        std::size_t at = 0;
        for (std::size_t i = 0; i < OWNER; ++i)
            label.text[at++] = Owner.text[i];
        label.text[at++] = ':';
        label.text[at++] = ':';
        for (std::size_t i = 0; i < OPERATION; ++i)
            label.text[at++] = Operation.text[i];
        return label;
    }

    static constexpr auto value = make();
};

} // namespace halvex::thread

// Declares, inside a class body, the name its log labels carry.
#define HLV_LOG_CLASS(Class)                                                                                           \
  static constexpr ::halvex::thread::LabelText LOG_CLASS                                                               \
  {                                                                                                                    \
#    Class                                                                                                             \
  }
// The label of an operation of the class whose code this is: "Class::operation".
#define HLV_LABEL(operation) (::halvex::thread::Label<LOG_CLASS, ::halvex::thread::LabelText{operation}>::value.text)
// The same for the free functions of a namespace, declared in the namespace in their source file.
#define HLV_LOG_NAMESPACE(Name)                                                                                        \
  [[maybe_unused]] static constexpr ::halvex::thread::LabelText LOG_CLASS                                              \
  {                                                                                                                    \
#    Name                                                                                                              \
  }
