#include "form1.h"

#include <QPushButton>

void Form1::connectExportControls()
{
}

bool Form1::SaveResultsAsExcelFileIsExcelInstalled()
{
    return false;
}

void Form1::PushButton6_Click()
{
}

void Form1::PushButton2_Click()
{
}

void Form1::PushButton18_Click()
{
}
