#pragma once

#include "net/CBaseRequest.h"

#include <QVariantMap>

class QJsonObject;

// Sends the marks of the favourites the service knows and merges its answer:
// favourites deleted or unmarked elsewhere, and the service's current favourites.
class CRequestGetFavourite : public CBaseRequest
{
    Q_OBJECT

public:
    CRequestGetFavourite();

    const QVariantMap &favourites() const { return m_favourites; }
    void setFavourites(const QVariantMap &v) { m_favourites = v; }

    void buildUrl() override;
    void buildBody() override;
    QVariant parseResponse(const QByteArray &body) override;

private:
    static bool applyDeleted(const QJsonObject &reply);
    static bool applyUnmarked(const QJsonObject &reply);
    static bool applyServiceFavourites(const QJsonObject &reply);

    QVariantMap m_favourites;
};
