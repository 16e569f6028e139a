// SPDX-License-Identifier: MIT
#pragma once

#include "LinkOpener.h"

class QtLinkOpener final : public LinkOpener {
public:
    LinkOpenResult open(const QString &link, QWidget *owner, const QString &directory) override;
};
