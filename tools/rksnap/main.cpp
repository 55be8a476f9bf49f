// rksnap: a command-line host for the snapshot plug-in. It loads the plug-in
// with dlopen, keeps its records in the host snapshot database and reads its
// arrays from an INI configuration.
#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>

#include "App.h"

int main(int argc, char** argv) {
    using namespace rksnap;
    Options o;
    CLI::App app{
        "rksnap: take, map, revert and delete hardware snapshots of E-Series volumes\n"
        "through the snapshot plug-in, with records kept in SQLite.\n"
        "Exit codes: 0 every device succeeded, 2 some did, 1 none or invalid call,\n"
        "3 the provider cannot be reached, 64 usage."};
    app.require_subcommand(1);
    app.fallthrough();
    app.set_version_flag("--version", "rksnap 1.0.0");
    app.add_option("--config", o.configPath,
                   "configuration file (default /etc/rksnap/rksnap.conf for root)");
    app.add_option(
        "--state-dir", o.stateDir,
        "records folder (default /var/lib/rksnap for root, $XDG_STATE_HOME/rksnap otherwise)");
    app.add_option("--plugin", o.pluginPath, "the plug-in library (default: found beside rksnap)");
    app.add_flag("--json", o.json, "one JSON document on standard output");

    auto devicesCmd = [&](const char* name, const char* help) {
        CLI::App* c = app.add_subcommand(name, help);
        c->add_option("devices", o.devices,
                      "host block devices (fabric devices in simulation mode)")
            ->required();
        c->add_option("-n,--name", o.name, "snapshot name (default rksnap_DATE_TIME)");
        c->add_option("-e,--engine", o.engine, "pit, cg (consistency group PiT), replica or clone")
            ->check(CLI::IsMember({"pit", "cg", "replica", "clone"}));
        c->add_option("-a,--array", o.array, "the configured array (default: found by inquiry)");
        return c;
    };
    devicesCmd("prepare", "prepare devices for a snapshot (creates the record)");
    CLI::App* snapCmd =
        devicesCmd("snap", "take a snapshot (prepares first unless --name names a prepared one)");
    snapCmd->get_option("devices")->required(false);

    auto snapsCmd = [&](const char* name, const char* help, bool required) {
        CLI::App* c = app.add_subcommand(name, help);
        auto* opt = c->add_option("snapshots", o.snaps, "snapshot names (rksnap list)");
        if (required) opt->required();
        return c;
    };
    snapsCmd("map", "map snapshots to this host and wait for their devices", true);
    snapsCmd("unmap", "unmap snapshots from this host", true)
        ->add_flag("--keep", o.keep, "keep the PiT view");
    snapsCmd("ismapped", "check whether snapshots are mapped and visible", true);
    snapsCmd("revert", "restore the source volumes from snapshots", true);
    snapsCmd("delete", "delete snapshots (in the order given; oldest first for PiTs)", true)
        ->add_flag("--keep", o.keep, "only detach the PiT view, keep the PiT");
    snapsCmd("reconcile", "find snapshots deleted on the array behind rksnap's back (default: all)",
             false);
    snapsCmd("unprepare", "forget a prepared snapshot", true);
    snapsCmd("show", "one snapshot with its devices, identifiers and calls", true);
    app.add_subcommand("list", "snapshots on record")
        ->add_flag("--all", o.all, "deleted ones too (the history)");
    app.add_subcommand("status", "the last call per device")
        ->add_option("devices", o.devices, "devices (default all)");
    app.add_subcommand("identify", "which devices are volumes of a supported, configured array")
        ->add_option("devices", o.devices, "host block devices")
        ->required();
    app.add_subcommand("devices", "the host's block devices and initiator ports");

    CLI::App* array = app.add_subcommand("array", "configured arrays");
    array->require_subcommand(1);
    array->fallthrough();
    auto passwordOpts = [&](CLI::App* c) {
        c->add_option("--password-file", o.passwordFile,
                      "read the password from the first line of FILE");
        c->add_option("--password-env", o.passwordEnv,
                      "read the password from environment variable VAR");
    };
    CLI::App* add =
        array->add_subcommand("add", "add an array (the provider password is asked without echo)");
    add->add_option("name", o.snaps, "array name")->required()->expected(1);
    add->add_option("--address", o.address, "SMI-S provider host name or address")->required();
    add->add_option("--array-id", o.arrayId, "storage array id (32 hex digits)")->required();
    add->add_option("--port", o.port, "provider port (default 5989, 5988 with --http)");
    add->add_flag("--http", o.http, "plain HTTP instead of HTTPS");
    add->add_option("--user", o.user, "provider user (default admin)");
    add->add_option("--namespace", o.nameSpace, "CIM namespace (default: asked from the provider)");
    add->add_option("--array-password-file", o.arrayPasswordFile,
                    "the array's own password, kept in step with the provider");
    add->add_option("--array-password-env", o.arrayPasswordEnv,
                    "the same from an environment variable");
    passwordOpts(add);
    array->add_subcommand("list", "list arrays (passwords are never shown)");
    array->add_subcommand("remove", "remove an array")
        ->add_option("name", o.snaps, "array name")
        ->required()
        ->expected(1);
    CLI::App* setpw = array->add_subcommand("set-password", "change an array's provider password");
    setpw->add_option("name", o.snaps, "array name")->required()->expected(1);
    setpw->add_flag("--array-password", o.arrayPassword, "change the array's own password instead");
    passwordOpts(setpw);

    CLI::App* demo =
        app.add_subcommand("demo", "run the whole road against a simulated array, with a summary");
    demo->add_option("--sim", o.simPath, "the smis-sim program (default: beside rksnap)");
    demo->add_flag("--keep-state", o.keepState, "keep the temporary folder and print its name");
    app.add_subcommand("doctor",
                       "check the configuration and each array's provider, one line per check")
        ->add_option("array", o.snaps, "only this array");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int rc = app.exit(e);
        return rc == 0 ? 0 : kExitUsage;
    }
    try {
        CLI::App* cmd = app.get_subcommands().front();
        const std::string name = cmd->get_name();
        if (name == "array") return runArray(cmd->get_subcommands().front()->get_name(), o);
        if (name == "list") return runList(o);
        if (name == "show") return runShow(o);
        if (name == "status") return runStatus(o);
        if (name == "identify") return runIdentify(o);
        if (name == "devices") return runDevices(o);
        if (name == "demo") return runDemo(o);
        if (name == "doctor") return runDoctor(o);
        return runSnapCommand(name, o);
    } catch (const std::exception& e) {
        printError(o, std::string("unexpected failure: ") + e.what(), kExitNone);
    }
    return kExitNone;
}
