// What the about box frmAbout shows: the program and the help desk. The
// contact fields come from the section [About] of the agent's configuration
// file (WebSite, EMail, Telephone, Fax), with defaults when they are missing.
#pragma once

#include <string>

#include "agent/shell/configuration.h"
#include "agent/shell/run_state.h"

namespace tavrel::agent {

struct AboutBoxContent {
    std::string caption;  // "About " + application title
    std::string title;
    std::string version;
    std::string executableName;
    std::string executableFolder;
    std::string webSite;
    std::string email;
    std::string telephone;
    std::string fax;
};

inline constexpr const char* kDefaultWebSite = "www.example.com/tavrel";
inline constexpr const char* kDefaultEMail = "helpdesk@example.com";
inline constexpr const char* kDefaultTelephone = "(not configured)";
inline constexpr const char* kDefaultFax = "(not configured)";

inline AboutBoxContent aboutBoxContent(const RunState& state, const Configuration& configuration,
                                       const std::string& version) {
    AboutBoxContent about;
    about.caption = "About " + state.applicationTitle;
    about.title = state.applicationTitle;
    about.version = version;
    about.executableName = state.executableName;
    about.executableFolder = state.agentFolder;
    about.webSite = configuration.ReadText("About", "WebSite", kDefaultWebSite);
    about.email = configuration.ReadText("About", "EMail", kDefaultEMail);
    about.telephone = configuration.ReadText("About", "Telephone", kDefaultTelephone);
    about.fax = configuration.ReadText("About", "Fax", kDefaultFax);
    return about;
}

}  // namespace tavrel::agent
