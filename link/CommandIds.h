// The commands by name. A command is a pair of kind and sub-kind (its
// parameter is always 0); the link's own table in link/Command.cpp says what
// each one puts on the wire. Everyone else names them from here.
#pragma once

struct CommandId {
    int kind;
    int subKind;
};

constexpr bool operator==(CommandId a, CommandId b) {
    return a.kind == b.kind && a.subKind == b.subKind;
}

// The output: start, stop and clearing the alarm share one kind.
constexpr int COMM_KIND_OUTPUT = 15;
constexpr CommandId COMM_ID_STOP{COMM_KIND_OUTPUT, 0};
constexpr CommandId COMM_ID_CLEAR_ALARM{COMM_KIND_OUTPUT, 10};
constexpr CommandId COMM_ID_START{COMM_KIND_OUTPUT, 255};
// The settings command: sent under one sub-kind while stopped, another while running.
constexpr CommandId COMM_ID_SETTINGS_STOPPED{90, 33};
constexpr CommandId COMM_ID_SETTINGS_RUNNING{90, 80};
constexpr CommandId COMM_ID_SETTINGS_QUERY{165, 33};
constexpr CommandId COMM_ID_MEASURE_QUERY{240, 17};
constexpr CommandId COMM_ID_STATE_QUERY{240, 235};
constexpr CommandId COMM_ID_MODEL_QUERY{240, 237};

constexpr bool CommIs(int kind, int subKind, CommandId id) {
    return CommandId{kind, subKind} == id;
}
