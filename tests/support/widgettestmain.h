#pragma once

#include <QApplication>
#include <QTest>

// A Qt Test main that runs offscreen unless a platform is chosen: test discovery and CI have no
// display.
#define PENNARO_WIDGET_TEST_MAIN(TestClass)                                                        \
    int main(int argc, char* argv[]) {                                                             \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                                        \
            qputenv("QT_QPA_PLATFORM", "offscreen");                                               \
        QApplication app(argc, argv);                                                              \
        TestClass test;                                                                            \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
