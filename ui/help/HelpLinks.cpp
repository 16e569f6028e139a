// SPDX-License-Identifier: MIT
#include "ui/help/HelpLinks.h"

#include "platform/LinkOpener.h"

#include <cerrno>
#include <utility>

namespace {

// One host for every page; a reserved name until the project has a real site.
constexpr auto siteRoot = "https://vexalo.example";
constexpr auto authorAddress = "author@vexalo.example";

// Without an opener the call cannot be made at all, which the commands report
// like any failed call; ENOSYS says "not available" in the layer's own numbers.
LinkOpenResult openLink(const Services &services, const QString &link, QWidget *owner, const QString &directory)
{
    if (!services.links)
        return {false, ENOSYS};
    return services.links->open(link, owner, directory);
}

} // namespace

QString HelpLinks::emailLink()
{
    // Handed over unencoded: the mail program shows the body as written here.
    return QStringLiteral("mailto:") + QLatin1String(authorAddress)
        + QStringLiteral("?subject=Vexalo&body=Suggestions, comments, or problems:");
}

QString HelpLinks::webSiteLink()
{
    return QLatin1String(siteRoot) + QStringLiteral("/free/vexalo.htm");
}

QString HelpLinks::forumsLink()
{
    return QLatin1String(siteRoot) + QStringLiteral("/phpbb");
}

QString HelpLinks::onlineHelpLink()
{
    return QLatin1String(siteRoot) + QStringLiteral("/free/vexalohelp.htm");
}

HelpLinks::HelpLinks(const Services &services, QWidget *owner, QString programFolder)
    : m_services(services)
    , m_owner(owner)
    , m_programFolder(std::move(programFolder))
{
}

void HelpLinks::emailAuthor()
{
    // A mail link has no owner window and no starting folder.
    if (openLink(m_services, emailLink(), nullptr, QString()).ok)
        return;
    if (m_services.messages) {
        m_services.messages->show(m_owner,
                                  {tr("Error sending email!"), tr("Send Email to Author"), MessageRequest::Buttons::Ok,
                                   MessageRequest::Icon::Exclamation});
    }
}

void HelpLinks::openWebSite()
{
    openWebPage(webSiteLink(), tr("Could not locate web site!  Error %1"), MessageRequest::Icon::None);
}

void HelpLinks::openForums()
{
    openWebPage(forumsLink(), tr("Could not locate forum site!  Error %1"), MessageRequest::Icon::None);
}

void HelpLinks::openOnlineHelp()
{
    openWebPage(onlineHelpLink(), tr("Something went wrong, but I don't know what!  Error %1"),
                MessageRequest::Icon::Exclamation);
}

void HelpLinks::openWebPage(const QString &link, const QString &failureText, MessageRequest::Icon icon)
{
    const LinkOpenResult result = openLink(m_services, link, m_owner, m_programFolder);
    if (result.ok || !m_services.messages)
        return;
    // No title: the message box shows the program title.
    m_services.messages->show(m_owner,
                              {failureText.arg(result.errorNumber), QString(), MessageRequest::Buttons::Ok, icon});
}
