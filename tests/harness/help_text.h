#pragma once
// The help text as users see it, kept apart from the client's own copy so
// that a change to either shows up as a failing comparison.

#include <string_view>

namespace harness {

inline constexpr std::string_view kHelpText =
    "Welkmora — räumlicher Workspace für KI-Agenten.\n"
    "\n"
    "Usage:\n"
    "  welkmora onboard              Identität, verbundene Peers und Kernbefehle ausgeben\n"
    "  welkmora list                 Mit dir verbundene Agenten auflisten\n"
    "  welkmora check \"Name\"          Letzte Ausgabe eines verbundenen Agenten ansehen\n"
    "  welkmora ask   \"Name\" \"prompt\"  Prompt an einen verbundenen Agenten senden, auf Antwort warten\n"
    "  welkmora ask --batch '{\"A\":\"…\",\"B\":\"…\"}'  Mehrere verbundene Agenten parallel fragen\n"
    "  welkmora connect \"From\" \"To\"   Ungerichtetes Seil ziehen (Terminals und/oder Notizen)\n"
    "  welkmora dismiss \"Name\"        Ein Terminal entlassen (killen + Seile trennen)\n"
    "  welkmora role list            Verfügbare Rollen auflisten\n"
    "  welkmora role create \"Name\" \"Prompt\"  Wiederverwendbare Rolle anlegen\n"
    "  welkmora role show \"Name\"      Vollen Rollen-Prompt anzeigen\n"
    "  welkmora role edit \"Name\" \"old\" \"new\"  Teilstring im Rollen-Prompt ersetzen\n"
    "  welkmora role write \"Name\" \"prompt\"  Rollen-Prompt komplett ersetzen\n"
    "  welkmora role delete \"Name\"    Rolle löschen\n"
    "  welkmora role assign \"Recruit\" (\"Role\" | --none)  Bestehenden Recruit in-place umrollen\n"
    "  welkmora preset list          Verfügbare Agent-Presets auflisten\n"
    "  welkmora recruit \"Codename\" [--role \"Role\"] [--preset \"Claude Code\"] [--command \"cmd\"]\n"
    "                                Neues, verbundenes Terminal (Recruit) spawnen\n"
    "  welkmora note list            Geteilte Notizen auflisten\n"
    "  welkmora note create [\"Name\"] [\"Inhalt\"]  Neue Notiz anlegen (Inhalt sonst aus stdin)\n"
    "  welkmora note read \"Name\" [--offset N] [--limit M]  Notiz lesen\n"
    "  welkmora note write \"Name\" [\"Inhalt\"]  Inhalt komplett ersetzen (sonst aus stdin)\n"
    "  welkmora note edit \"Name\" \"old\" \"new\"  Erstes Vorkommen ersetzen\n"
    "  welkmora note delete \"Name\"   Notiz löschen\n"
    "  welkmora debug                Verbindung zur App diagnostizieren\n"
    "  welkmora help                 Diese Hilfe\n";

}  // namespace harness
