#include "app/extractionrun.h"

#include "app/net/httpclient.h"
#include "app/net/pagecharset.h"
#include "runtime/core/cp936codec.h"
#include "runtime/core/textservices.h"
#include "runtime/gui/inputdialog.h"
#include "runtime/gui/listedit.h"
#include "runtime/gui/windowservices.h"
#include "text/forumname.h"
#include "text/textbetween.h"

#include <QLabel>
#include <QLineEdit>

#include <cmath>

namespace pennaro {

ExtractionRun::ExtractionRun(QLineEdit* nameBox, ListEdit* listBox, QLabel* progressLabel,
                             Text host, const HttpClient& client)
    : m_nameBox(nameBox), m_listBox(listBox), m_progressLabel(progressLabel),
      m_host(std::move(host)), m_client(client) {}

void ExtractionRun::run() {
    qint32 pageCount = 0;
    qint32 pageOffset = 0;
    const Text countPrompt = cp936(u"请输入你要提取的页数");
    const Text offsetPrompt = cp936(u"从第几页数起：");
    askInput(countPrompt, countPrompt, Text(), pageCount, 2);
    askInput(offsetPrompt, offsetPrompt, Text(), pageOffset, 2);
    if (pageCount <= 0) {
        showMessage(cp936(u"错了，必须大于0"), 0);
        return;
    }

    const Text encodedName = encodeForumName(getControlText(m_nameBox), true, pumpEvents);
    if (isMainWindowClosed())
        return;

    const Text leftMarker = cp936(u"主题作者:");
    const Text rightMarker("\"");
    TextArray authorNames;
    for (qint32 pageIndex = 1; pageIndex <= pageCount; ++pageIndex) {
        const Text url = joinTexts(
            {"http://", m_host, "/f?kw=", encodedName, "&pn=", formatInteger(pageOffset)});
        const Text pageText = bytesToText(pageBytesInListCodePage(m_client.get(url)));
        extractBetween(pageText, leftMarker, rightMarker, authorNames);
        appendNewNames(m_listBox, authorNames);

        // The offset wraps around like the 32-bit value it is.
        pageOffset = static_cast<qint32>(static_cast<quint32>(pageOffset) + 1u);
        setControlText(m_progressLabel,
                       joinTexts({formatInteger(pageIndex), "/", formatInteger(pageCount)}));
        pumpEvents();
        if (isMainWindowClosed())
            return;
    }
}

void ExtractionRun::appendNewNames(ListEdit* listBox, const TextArray& authorNames) {
    // Starts at 1, not 0: a page puts four new names on its first line and five on the others.
    qint32 nameCounter = 1;
    for (const Text& member : authorNames) {
        const Text name = stripBlanks(member);
        if (!member.isEmpty() && !listBox->containsText(name)) {
            editAppend(listBox, {joinTexts({" @", name})});
            ++nameCounter;
        }
        // Also for a name already present: known names after a break leave empty lines.
        if (std::abs(remainderOf(nameCounter, 5.0)) <= 1e-7)
            editAppend(listBox, {"\r\n"});
    }
}

} // namespace pennaro
