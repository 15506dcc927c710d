#pragma once

#include "runtime/core/textdefs.h"

class QLabel;
class QLineEdit;

namespace pennaro {

class HttpClient;
class ListEdit;

// One extraction run: asks for the page count and the first listing offset, fetches that many
// listing pages of the forum named in the name box, and appends every thread author that the
// list does not hold yet as " @" + name, with the progress in the label after each page.
// Each page is whatever `client` fetched of it within its limits, so a page that fails or is
// cut short still counts and the run goes on with the next.
//
// The values belong to the run, so a run started from inside another one's event pump has
// its own. The run stops as soon as it finds the main window closed.
class ExtractionRun final {
public:
    ExtractionRun(QLineEdit* nameBox, ListEdit* listBox, QLabel* progressLabel, Text host,
                  const HttpClient& client);

    void run();

    // One page's part: each stripped name that the list does not hold yet is appended as
    // " @" + name, and "\r\n" whenever the page's counter stands on a multiple of 5.
    static void appendNewNames(ListEdit* listBox, const TextArray& authorNames);

private:
    QLineEdit* m_nameBox;
    ListEdit* m_listBox;
    QLabel* m_progressLabel;
    Text m_host;
    const HttpClient& m_client;
};

} // namespace pennaro
