/* filled in by its layer's change */
