# Precompiled headers: Qt's, GoogleTest's and the standard library's headers are most of the
# compile time of a widget file or a test file (at -O1, three quarters of it), and every build
# tree (release, ThreadSanitizer, AddressSanitizer) reads them again for each file.
option(TAVRIN_PCH "Precompile the Qt, GoogleTest and standard headers the files share" ON)

set(TAVRIN_PCH_STD <algorithm> <array> <atomic> <chrono> <cmath> <complex> <cstdint> <cstring>
    <filesystem> <fstream> <functional> <memory> <mutex> <numbers> <optional> <random>
    <sstream> <string> <thread> <vector>)
set(TAVRIN_PCH_WIDGETS <QApplication> <QCheckBox> <QComboBox> <QCoreApplication> <QDialog>
    <QDoubleSpinBox> <QFile> <QGroupBox> <QImage> <QLabel> <QMenu> <QMessageBox> <QObject>
    <QPainter> <QPushButton> <QString> <QTimer> <QVBoxLayout> <QWidget>)

# The Qt widget libraries each get their own.
function(tavrin_precompile_widgets)
    if(NOT TAVRIN_PCH)
        return()
    endif()
    foreach(target ${ARGN})
        target_precompile_headers(${target} PRIVATE ${TAVRIN_PCH_STD} ${TAVRIN_PCH_WIDGETS})
    endforeach()
endfunction()

# The test programs share one per kind, built once per tree: GoogleTest alone, or GoogleTest with
# Qt's widgets for the programs that run in a QApplication. A program takes a header made with
# other options as an error (-Winvalid-pch), not as a silent slow build; so every test program
# and both carriers are position-independent, as the Qt ones must be.
function(tavrin_test_pch target kind)
    if(NOT TAVRIN_PCH)
        return()
    endif()
    set(carrier tavrin_test_pch_${kind})
    if(NOT TARGET ${carrier})
        set(source ${PROJECT_BINARY_DIR}/${carrier}.cpp)
        # A program, as its users are: a library's header would be made with -fPIC, theirs -fPIE.
        file(WRITE ${source} "// Carries the test programs' precompiled header.\nint main() {}\n")
        add_executable(${carrier} ${source})
        target_link_libraries(${carrier} PRIVATE GTest::gtest)
        set(headers <gtest/gtest.h> ${TAVRIN_PCH_STD})
        if(kind STREQUAL "widgets")
            target_link_libraries(${carrier} PRIVATE Qt6::Widgets)
            list(APPEND headers ${TAVRIN_PCH_WIDGETS})
        endif()
        target_compile_options(${carrier} PRIVATE ${TAVRIN_TEST_COMPILE_OPTIONS} -Winvalid-pch)
        set_target_properties(${carrier} PROPERTIES POSITION_INDEPENDENT_CODE ON)
        target_precompile_headers(${carrier} PRIVATE ${headers})
    endif()
    target_compile_options(${target} PRIVATE -Winvalid-pch)
    set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
    target_precompile_headers(${target} REUSE_FROM ${carrier})
endfunction()
