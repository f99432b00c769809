#include "form1.h"

#include <QPushButton>

void Form1::connectLookupControls()
{
}

void Form1::PushButton4_Click()
{
}

void Form1::PushButton7_Click()
{
}
